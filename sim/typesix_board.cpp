#include "sim/typesix_board.h"

#include <algorithm>
#include <cstdio>

#include "sim/fault_schedule.h"
#include "sim/sim_sha256.h"

namespace Sim {

namespace {

// Command codes as they stand in byte 1 of a payload.
constexpr uint8_t CMD_INIT = 0x01;
constexpr uint8_t CMD_APP_SHA = 0x02;
constexpr uint8_t CMD_START_FLASH = 0x03;
constexpr uint8_t CMD_DATA = 0x04;
constexpr uint8_t CMD_END_PAGE = 0x05;
constexpr uint8_t CMD_MEMORY_CONFIG = 0x06;
constexpr uint8_t CMD_ERASE_CORE = 0x07;
constexpr uint8_t CMD_ERASE_ALL_EXIT = 0x08;
constexpr uint8_t CMD_EXIT = 0x0A;
constexpr uint8_t CMD_RESET = 0x0C;
constexpr uint8_t CMD_SPEED = 0x0D;
constexpr uint8_t CMD_ERASE_SSB = 0x0F;
constexpr uint8_t CMD_ERASE_ALL = 0x10;
constexpr uint8_t CMD_FLASH_LIMITS = 0x11;
constexpr uint8_t CMD_KEY_STORE = 0x13;
constexpr uint8_t CMD_CERTIFICATE = 0x14;
constexpr uint8_t CMD_SIGNATURE = 0x15;
constexpr uint8_t CMD_KV_KEY = 0x1E;
constexpr uint8_t CMD_DATA_REQUEST = 0x21;
constexpr uint8_t CMD_VERSION = 0x25;
constexpr uint8_t CMD_BIN_HEAD = 0x36;
constexpr uint8_t CMD_SHA = 0x37;
constexpr uint8_t CMD_SSB_PACKET = 0xFC;
constexpr uint8_t CMD_SSB_DIGEST = 0xFD;

// Answer payload: seq, ACK, command code, return code, data..., check.
constexpr uint8_t ACK_VALUE = 0x02;
constexpr uint8_t RETURN_OK = 0x01;
constexpr uint8_t RETURN_FAILED = 0x00;

constexpr const char* ROM_TEXT = "\r\nboot-romloader\r\n";
constexpr const char* SSB_TEXT = "\r\nboot-ssb-codeloader\r\n";
constexpr int64_t ANNOUNCE_PERIOD_MS = 100;
constexpr uint32_t ROM_BAUD = 115200;
constexpr uint32_t MAX_BAUD = 16000000;
constexpr uint8_t VERSION_DATA[] = {'S', 'I', 'M', '1'};

// Bounds that keep a confused or hostile tool from exhausting the host.
constexpr size_t MAX_PAYLOAD = 1u << 20;
constexpr size_t MAX_SSB_BYTES = 64u << 20;
constexpr size_t MAX_IMAGE_BYTES = static_cast<size_t>(Flash::MAX_SIZE);
// The tool gathers at most 49151 bytes per answer: a larger read could never be taken.
constexpr uint32_t MAX_READ_LENGTH = 16384;

// ssb packet: seq, code, packet number (u32 little-endian), data, check, 0xFF...
constexpr size_t SSB_NUMBER_OFFSET = 2;
constexpr size_t SSB_DATA_OFFSET = 6;
constexpr size_t SSB_OVERHEAD = 7;

uint32_t Be32(const uint8_t* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

uint32_t Le32(const uint8_t* p)
{
    return (static_cast<uint32_t>(p[3]) << 24) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[1]) << 8) | static_cast<uint32_t>(p[0]);
}

uint16_t Be16(const uint8_t* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

std::string Hex(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof(text), "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string CodeName(uint8_t code)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%02X", code);
    return text;
}

// The ssb packet puts its check right after the data and pads with 0xFF, so
// the check of a short last packet is not the last byte. Position 6 + n is a
// candidate when the XOR before it matches and only 0xFF follows.
bool SsbCheckAt(const std::vector<uint8_t>& p, size_t n)
{
    size_t at = SSB_DATA_OFFSET + n;
    if (at >= p.size()) {
        return false;
    }
    for (size_t i = at + 1; i < p.size(); ++i) {
        if (p[i] != 0xFF) {
            return false;
        }
    }
    return TypeSixCheck(p.data(), at) == p[at];
}

bool SsbCheckAnywhere(const std::vector<uint8_t>& p)
{
    size_t trailing = 0;
    while (trailing < p.size() && p[p.size() - 1 - trailing] == 0xFF) {
        ++trailing;
    }
    uint8_t x = TypeSixCheck(p.data(), SSB_DATA_OFFSET);
    for (size_t at = SSB_DATA_OFFSET; at < p.size(); ++at) {
        if (x == p[at] && p.size() - 1 - at <= trailing) {
            return true;
        }
        x = static_cast<uint8_t>(x ^ p[at]);
    }
    return false;
}

bool CheckByteValid(const std::vector<uint8_t>& p)
{
    if (p[1] == CMD_SSB_PACKET && p.size() > SSB_OVERHEAD) {
        return SsbCheckAnywhere(p);
    }
    return TypeSixCheck(p.data(), p.size() - 1) == p.back();
}

}  // namespace

std::unique_ptr<Board> MakeTypeSixBoard(BoardEnv env)
{
    return std::make_unique<TypeSixBoard>(env);
}

TypeSixBoard::TypeSixBoard(BoardEnv env) : m_env(env), m_reader(MAX_PAYLOAD)
{
    if (m_env.faults.Plan().ssbRunning) {
        m_env.faults.Fired(FaultSchedule::Flag::SSB_RUNNING, "power-on");
        // An ssb left in flash boots at power-on and announces itself.
        m_stage = Stage::Ssb;
        m_ssbInFlash = true;
        m_text = SSB_TEXT;
        m_env.report.AddEvent("power-on: an ssb is running");
    } else {
        m_text = ROM_TEXT;
    }
}

void TypeSixBoard::OnBytes(const uint8_t* data, size_t length)
{
    m_lastBytesMs = m_lastTickMs;
    m_reader.Feed(data, length);
    TypeSixFrame frame;
    while (m_reader.Next(frame)) {
        HandleFrame(frame);
    }
}

void TypeSixBoard::OnTick(int64_t nowMs)
{
    m_lastTickMs = nowMs;
    if (m_text.empty()) {
        return;
    }
    // The ROM prints its banner until it is spoken to; the ssb repeats its
    // start text whenever the line has been quiet, so a tool that waits for
    // it before every image finds it.
    bool wanted = m_stage == Stage::Rom ? !m_spokenTo : (!m_spokenTo || nowMs - m_lastBytesMs >= ANNOUNCE_PERIOD_MS);
    if (wanted && (!m_lastTextMs || nowMs - *m_lastTextMs >= ANNOUNCE_PERIOD_MS)) {
        Write(std::vector<uint8_t>(m_text.begin(), m_text.end()));
        m_lastTextMs = nowMs;
    }
}

void TypeSixBoard::HandleFrame(const TypeSixFrame& frame)
{
    // A frame the board cannot trust gets no answer: the tool sends it again.
    if (frame.Broken()) {
        Error("frame dropped: " + frame.problem);
        return;
    }
    const std::vector<uint8_t>& p = frame.payload;
    if (p.size() < 3) {
        Error("frame dropped: payload of " + std::to_string(p.size()) + " bytes");
        return;
    }
    if (!CheckByteValid(p)) {
        Error("frame dropped: command " + CodeName(p[1]) + " with a wrong check byte " + CodeName(p.back()));
        return;
    }
    ++m_frameCount;
    m_spokenTo = true;
    Command cmd{p, p[0], p[1]};

    if (cmd.code == CMD_RESET) {
        ResetFrame(frame);
        return;
    }
    if (!m_lastFrame.empty() && p == m_lastFrame) {
        m_env.report.AddEvent("command " + CodeName(cmd.code) + " repeated: answer sent again");
        SendAnswer(m_lastAnswer);
        return;
    }
    m_lastFrame.clear();
    bool raw = cmd.code == CMD_EXIT || cmd.code == CMD_ERASE_ALL_EXIT;
    if (!raw && m_env.faults.Plan().nakFrame == m_frameCount) {
        m_env.report.AddEvent("fault: negative answer to frame " + std::to_string(m_frameCount));
        m_env.faults.Fired(FaultSchedule::Flag::NAK_FRAME, "frame " + std::to_string(m_frameCount) + ", command " +
                                                               CodeName(cmd.code));
        Answer(cmd, false);
        return;
    }
    if (!raw && m_env.faults.NextAnswerIsNegative(cmd.code)) {
        m_env.report.AddEvent("fault: command " + CodeName(cmd.code) + " refused with a negative answer");
        Answer(cmd, false);
        return;
    }
    if (m_stage == Stage::Rom) {
        HandleRom(cmd);
    } else {
        HandleSsb(cmd);
    }
}

void TypeSixBoard::HandleRom(const Command& cmd)
{
    switch (cmd.code) {
    case CMD_INIT:
        if (ExpectLength(cmd, 3, "init")) {
            m_load = SsbLoad();
            Answer(cmd, true);
        }
        break;
    case CMD_VERSION:
        ReadVersion(cmd);
        break;
    case CMD_SSB_PACKET:
        RomSsbPacket(cmd);
        break;
    case CMD_SSB_DIGEST:
        RomSsbDigest(cmd);
        break;
    case CMD_KEY_STORE:
        // seq, 13, 01, length u16, data, check
        if (cmd.Size() < 6 || cmd.payload[2] != 0x01) {
            Refuse(cmd, "key store frame without its 0x01 marker");
        } else {
            RomSecurityBlob(cmd, "keystore", 3);
        }
        break;
    case CMD_CERTIFICATE:
        RomSecurityBlob(cmd, "certificate", 2);
        break;
    case CMD_SIGNATURE:
        // seq, 15, 02, 02, length u16, data, check
        if (cmd.Size() < 7 || cmd.payload[2] != 0x02 || cmd.payload[3] != 0x02) {
            Refuse(cmd, "signature frame without its 0x02 0x02 marker");
        } else {
            RomSecurityBlob(cmd, "signature", 4);
        }
        break;
    case CMD_EXIT:
        RomExit(cmd);
        break;
    default:
        Refuse(cmd, "not a boot ROM command");
        break;
    }
}

void TypeSixBoard::RomSsbPacket(const Command& cmd)
{
    const std::vector<uint8_t>& p = cmd.payload;
    if (p.size() <= SSB_OVERHEAD) {
        Refuse(cmd, "ssb packet without data");
        return;
    }
    size_t size = p.size() - SSB_OVERHEAD;
    uint32_t number = Le32(p.data() + SSB_NUMBER_OFFSET);
    if (m_load.packets.empty()) {
        m_load.packetSize = size;
    } else if (size != m_load.packetSize) {
        Refuse(cmd, "ssb packet of " + std::to_string(size) + " data bytes after packets of " +
                        std::to_string(m_load.packetSize));
        return;
    }
    if (number > m_load.packets.size()) {
        Refuse(cmd, "ssb packet " + std::to_string(number) + " out of order, expected " +
                        std::to_string(m_load.packets.size()));
        return;
    }
    if (number == m_load.packets.size()) {
        if ((m_load.packets.size() + 1) * size > MAX_SSB_BYTES) {
            Refuse(cmd, "ssb larger than " + std::to_string(MAX_SSB_BYTES) + " bytes");
            return;
        }
        m_load.packets.push_back(p);
        m_load.full.push_back(SsbCheckAt(p, size));
    } else {
        m_load.packets[number] = p;
        m_load.full[number] = SsbCheckAt(p, size);
    }
    m_load.bootable = false;
    Answer(cmd, true);
}

void TypeSixBoard::RomSsbDigest(const Command& cmd)
{
    // seq, FD, image length u32, digest, check
    const std::vector<uint8_t>& p = cmd.payload;
    if (p.size() < 7) {
        Refuse(cmd, "ssb digest frame of " + std::to_string(p.size()) + " bytes");
        return;
    }
    uint32_t length = Be32(p.data() + 2);
    size_t digestLength = p.size() - 7;
    size_t packetSize = m_load.packetSize;
    size_t count = m_load.packets.size();
    size_t expected = length == 0 ? 0 : (packetSize == 0 ? 0 : (length + packetSize - 1) / packetSize);
    bool consistent = count == expected && (length == 0 || packetSize > 0);

    std::vector<uint8_t> image;
    image.reserve(count * packetSize);
    for (size_t i = 0; i < count; ++i) {
        const std::vector<uint8_t>& packet = m_load.packets[i];
        size_t take = std::min(packetSize, static_cast<size_t>(length) - std::min<size_t>(length, image.size()));
        bool last = i + 1 == count;
        if (consistent && !(last ? SsbCheckAt(packet, take) : m_load.full[i])) {
            Error("ssb packet " + std::to_string(i) + " has no check byte after its " + std::to_string(take) +
                  " data bytes");
            consistent = false;
        }
        image.insert(image.end(), packet.begin() + SSB_DATA_OFFSET,
                     packet.begin() + static_cast<std::ptrdiff_t>(SSB_DATA_OFFSET + take));
    }
    if (count != expected) {
        Error("ssb digest announces " + std::to_string(length) + " bytes, but " + std::to_string(count) +
              " packets of " + std::to_string(packetSize) + " bytes arrived");
    }
    NoteDigestLength(digestLength, "ssb digest");
    int matched = CheckDigest(image.data(), image.size(), p.data() + 6, digestLength);
    if (!consistent && matched == 1) {
        matched = 0;
    }
    RecordImage("ssb", 0, -1, image.data(), image.size(), matched);
    m_load.bootable = consistent && matched != 0;
    Answer(cmd, m_load.bootable);
}

void TypeSixBoard::RomSecurityBlob(const Command& cmd, const char* kind, size_t lengthOffset)
{
    // ..., length u16 big-endian, data, check
    const std::vector<uint8_t>& p = cmd.payload;
    size_t overhead = lengthOffset + 3;
    if (p.size() < overhead || Be16(p.data() + lengthOffset) != p.size() - overhead) {
        Refuse(cmd, std::string(kind) + " frame whose length field does not fit its size");
        return;
    }
    size_t length = p.size() - overhead;
    RecordImage(kind, 0, -1, p.data() + lengthOffset + 2, length, -1);
    Answer(cmd, true);
}

void TypeSixBoard::RomExit(const Command& cmd)
{
    if (!ExpectExitLength(cmd, "exit")) {
        return;
    }
    if (!m_load.bootable) {
        Error("exit frame without a verified ssb");
        EnterRom("the ROM stays");
        return;
    }
    if (m_env.faults.Plan().fallBackToRom) {
        m_env.faults.Fired(FaultSchedule::Flag::FALL_BACK_TO_ROM, "exit frame after the ssb");
        EnterRom("fault: the ssb did not start, the ROM talks again");
        return;
    }
    EnterSsb("ssb started");
}

void TypeSixBoard::HandleSsb(const Command& cmd)
{
    switch (cmd.code) {
    case CMD_INIT:
        if (ExpectLength(cmd, 3, "init")) {
            AbandonImage("init");
            Answer(cmd, true);
        }
        break;
    case CMD_VERSION:
        ReadVersion(cmd);
        break;
    case CMD_ERASE_SSB:
        if (ExpectLength(cmd, 3, "erase ssb")) {
            // An erased ssb keeps quiet until the exit frame restarts the
            // board: its start text now would send the tool erasing again.
            m_ssbInFlash = false;
            m_text.clear();
            m_env.report.AddErase("ssb", 0, 0);
            Answer(cmd, true);
        }
        break;
    case CMD_ERASE_ALL:
        if (ExpectLength(cmd, 3, "erase all")) {
            AbandonImage("erase all");
            m_env.flash.EraseAll();
            m_env.report.AddErase("all", 0, m_env.flash.Size());
            Answer(cmd, true);
        }
        break;
    case CMD_EXIT:
        SsbExit(cmd);
        break;
    case CMD_ERASE_ALL_EXIT:
        SsbEraseAllExit(cmd);
        break;
    case CMD_SPEED:
        SsbSetSpeed(cmd);
        break;
    case CMD_FLASH_LIMITS:
        if (ExpectLength(cmd, 13, "flash limits")) {
            Answer(cmd, true);
        }
        break;
    case CMD_ERASE_CORE:
        SsbEraseCore(cmd);
        break;
    case CMD_START_FLASH:
        SsbStartFlashing(cmd);
        break;
    case CMD_BIN_HEAD:
        SsbBinHead(cmd);
        break;
    case CMD_DATA:
        SsbData(cmd);
        break;
    case CMD_END_PAGE:
        SsbEndPage(cmd);
        break;
    case CMD_MEMORY_CONFIG:
        SsbMemoryConfig(cmd);
        break;
    case CMD_APP_SHA:
        SsbAppSha(cmd);
        break;
    case CMD_KV_KEY:
        SsbKvKey(cmd);
        break;
    case CMD_SHA:
        SsbSha(cmd);
        break;
    case CMD_DATA_REQUEST:
        SsbDataRequest(cmd);
        break;
    default:
        Refuse(cmd, "not an ssb command");
        break;
    }
}

void TypeSixBoard::SsbSetSpeed(const Command& cmd)
{
    // seq, 0D, baud u32, reset delay u32, check
    if (!ExpectLength(cmd, 11, "set speed")) {
        return;
    }
    uint32_t baud = Be32(cmd.payload.data() + 2);
    if (baud == 0 || baud > MAX_BAUD) {
        Refuse(cmd, "baud rate " + std::to_string(baud) + " not supported");
        return;
    }
    // The answer still goes out at the old speed; the UART follows after it.
    Answer(cmd, true);
    if (baud != m_env.line.GetBaud()) {
        m_env.line.SetBaud(baud);
        m_env.report.AddBaudChange(baud);
    }
}

void TypeSixBoard::SsbEraseCore(const Command& cmd)
{
    // seq, 07, file type, check
    if (ExpectLength(cmd, 4, "erase core")) {
        m_env.report.AddEvent("erase core for file type " + std::to_string(cmd.payload[2]));
        Answer(cmd, true);
    }
}

void TypeSixBoard::SsbStartFlashing(const Command& cmd)
{
    // seq, 03, file type, 00, 00, check
    if (!ExpectLength(cmd, 6, "start flashing")) {
        return;
    }
    AbandonImage("start flashing");
    m_image.kind = ImageKind::App;
    m_image.name = "app";
    m_image.fileType = cmd.payload[2];
    Answer(cmd, true);
}

void TypeSixBoard::SsbBinHead(const Command& cmd)
{
    // seq, 36, file code, address u32, length u32, check
    if (!ExpectLength(cmd, 12, "bin head")) {
        return;
    }
    const uint8_t* p = cmd.payload.data();
    static const char* const NAMES[] = {"flash", "emmc", "otp"};
    uint8_t fileCode = p[2];
    uint32_t address = Be32(p + 3);
    uint32_t length = Be32(p + 7);
    if (fileCode > 2) {
        Refuse(cmd, "bin head for file code " + std::to_string(fileCode));
        return;
    }
    if (fileCode == 0 && !Flash::Fits(address, length)) {
        Refuse(cmd, "flash region " + Hex(address) + "+" + Hex(length) + " beyond the part");
        return;
    }
    AbandonImage("bin head");
    m_image.kind = ImageKind::Other;
    m_image.name = NAMES[fileCode];
    m_image.address = address;
    m_image.region = length;
    if (fileCode == 0 && length > 0) {
        // The board erases the announced region before it writes.
        m_env.flash.Erase(address, length);
        m_env.report.AddErase("flash", address, length);
    }
    Answer(cmd, true);
}

void TypeSixBoard::SsbData(const Command& cmd)
{
    // seq, 04, packet-size data bytes (0xFF padded), check
    const std::vector<uint8_t>& p = cmd.payload;
    if (m_image.kind == ImageKind::None || m_image.ended) {
        Refuse(cmd, m_image.ended ? "data frame after end page" : "data frame outside an image");
        return;
    }
    if (p.size() < 4) {
        Refuse(cmd, "data frame without data");
        return;
    }
    size_t size = p.size() - 3;
    if (m_image.packetSize == 0) {
        m_image.packetSize = size;
    } else if (size != m_image.packetSize) {
        Refuse(cmd, "data frame of " + std::to_string(size) + " bytes after frames of " +
                        std::to_string(m_image.packetSize));
        return;
    }
    size_t offset = m_image.data.size();
    if (offset + size > MAX_IMAGE_BYTES) {
        Refuse(cmd, "image larger than " + std::to_string(MAX_IMAGE_BYTES) + " bytes");
        return;
    }
    if (m_image.region > 0 && offset >= m_image.region) {
        Refuse(cmd, "data past the " + std::to_string(m_image.region) + " bytes announced by the bin head");
        return;
    }
    bool toFlash = m_image.name == "flash";
    // Padding of the last frame is clipped at the end of the region.
    size_t take = m_image.region > 0 ? static_cast<size_t>(std::min<uint64_t>(size, m_image.region - offset)) : size;
    if (toFlash && !Flash::Fits(m_image.address + offset, take)) {
        Refuse(cmd, "data past the end of the part");
        return;
    }
    m_image.data.insert(m_image.data.end(), p.begin() + 2, p.end() - 1);
    if (toFlash) {
        const std::vector<BadCell> spoiled = m_env.flash.Write(m_image.address + offset, p.data() + 2, take);
        m_env.faults.CellsFired(spoiled, "flash image at " + Hex(m_image.address));
    }
    Answer(cmd, true);
}

void TypeSixBoard::SsbEndPage(const Command& cmd)
{
    if (!ExpectLength(cmd, 3, "end page")) {
        return;
    }
    if (m_image.kind == ImageKind::None) {
        Refuse(cmd, "end page outside an image");
        return;
    }
    m_image.ended = true;
    Answer(cmd, true);
}

void TypeSixBoard::SsbMemoryConfig(const Command& cmd)
{
    // seq, 06, file type, length u32, RAM length u32, check
    if (!ExpectLength(cmd, 12, "memory config")) {
        return;
    }
    const uint8_t* p = cmd.payload.data();
    if (!ExpectFinishedApp(cmd, "memory configuration")) {
        return;
    }
    uint32_t length = Be32(p + 3);
    size_t received = m_image.data.size();
    if (length > received || (received > 0 && length + m_image.packetSize <= received)) {
        Refuse(cmd, "memory configuration of " + std::to_string(length) + " bytes after " + std::to_string(received) +
                        " bytes of data frames");
        return;
    }
    m_image.appLength = length;
    Answer(cmd, true);
}

void TypeSixBoard::SsbAppSha(const Command& cmd)
{
    // seq, 02, file type, digest, check
    const std::vector<uint8_t>& p = cmd.payload;
    if (p.size() < 4) {
        Refuse(cmd, "application digest frame of " + std::to_string(p.size()) + " bytes");
        return;
    }
    if (!ExpectFinishedApp(cmd, "application digest")) {
        return;
    }
    size_t digestLength = p.size() - 4;
    NoteDigestLength(digestLength, "application digest");
    size_t length = m_image.appLength ? *m_image.appLength : m_image.data.size();
    m_image.digestMatched = CheckDigest(m_image.data.data(), length, p.data() + 3, digestLength);
    Answer(cmd, m_image.digestMatched != 0);
}

void TypeSixBoard::SsbKvKey(const Command& cmd)
{
    if (!ExpectLength(cmd, 10, "kv key")) {
        return;
    }
    if (m_image.kind == ImageKind::App && m_image.ended) {
        size_t length = m_image.appLength ? *m_image.appLength : m_image.data.size();
        RecordImage("app", 0, m_image.fileType, m_image.data.data(), length, m_image.digestMatched);
        m_image = Image();
    }
    Answer(cmd, true);
}

void TypeSixBoard::SsbSha(const Command& cmd)
{
    // seq, 37, address u32, length u32, digest, check
    const std::vector<uint8_t>& p = cmd.payload;
    if (p.size() < 11) {
        Refuse(cmd, "digest frame of " + std::to_string(p.size()) + " bytes");
        return;
    }
    if (m_image.kind != ImageKind::Other || !m_image.ended) {
        Refuse(cmd, "digest frame outside a finished flash, eMMC or OTP image");
        return;
    }
    uint32_t address = Be32(p.data() + 2);
    uint32_t length = Be32(p.data() + 6);
    size_t digestLength = p.size() - 11;
    const uint8_t* digest = p.data() + 10;
    if (address != m_image.address) {
        Refuse(cmd, "digest frame for " + Hex(address) + " in an image at " + Hex(m_image.address));
        return;
    }
    NoteDigestLength(digestLength, "image digest");
    size_t received = m_image.data.size();
    size_t imageLength = received;
    bool consistent = true;
    if (length > 0) {
        imageLength = length;
        consistent = length <= received && (received == 0 || length + m_image.packetSize > received);
        if (!consistent) {
            Error("digest frame announces " + std::to_string(length) + " bytes after " + std::to_string(received) +
                  " bytes of data frames");
            imageLength = std::min<size_t>(length, received);
        }
    } else if (digestLength == 32) {
        // An image sent from memory carries no length: the digest tells where
        // the padding of the last frame begins.
        imageLength = FindDigestLength(m_image, digest);
    }
    // A flash image's digest is taken over what the flash holds at the
    // address and length the frame names: the check covers a cell that
    // stored a bit wrong. Other images are checked as received.
    const std::vector<uint8_t> stored =
        m_image.name == "flash" ? m_env.flash.Read(m_image.address, imageLength) : std::vector<uint8_t>();
    const uint8_t* checked = m_image.name == "flash" ? stored.data() : m_image.data.data();
    int matched = CheckDigest(checked, imageLength, digest, digestLength);
    if (!consistent && matched == 1) {
        matched = 0;
    }
    RecordImage(m_image.name, m_image.address, -1, m_image.data.data(), imageLength, matched, m_image.region);
    m_image = Image();
    Answer(cmd, consistent && matched != 0);
}

void TypeSixBoard::SsbDataRequest(const Command& cmd)
{
    // seq, 21, address u32, length u32, check
    if (!ExpectLength(cmd, 11, "data request")) {
        return;
    }
    uint32_t address = Be32(cmd.payload.data() + 2);
    uint32_t length = Be32(cmd.payload.data() + 6);
    if (length == 0 || length > MAX_READ_LENGTH) {
        Refuse(cmd, "data request for " + std::to_string(length) + " bytes");
        return;
    }
    if (!Flash::Fits(address, length)) {
        Refuse(cmd, "data request at " + Hex(address) + " beyond the part");
        return;
    }
    Answer(cmd, true, m_env.flash.Read(address, length));
}

void TypeSixBoard::SsbExit(const Command& cmd)
{
    if (!ExpectExitLength(cmd, "exit")) {
        return;
    }
    // The board restarts: into its own ssb while one is stored, else the ROM.
    if (m_ssbInFlash) {
        EnterSsb("exit: the board restarts into its ssb");
    } else {
        EnterRom("exit: the board restarts into the ROM");
    }
}

void TypeSixBoard::SsbEraseAllExit(const Command& cmd)
{
    if (!ExpectExitLength(cmd, "erase-all exit")) {
        return;
    }
    m_wasReset = true;
    EnterRom("erase-all exit: the board restarts into the ROM");
}

void TypeSixBoard::ResetFrame(const TypeSixFrame& frame)
{
    // seq, 0C, 00 00 00 00, check
    const std::vector<uint8_t>& p = frame.payload;
    if (p.size() != 7 || p[2] != 0 || p[3] != 0 || p[4] != 0 || p[5] != 0) {
        Error("reset frame with payload of " + std::to_string(p.size()) + " bytes ignored");
        return;
    }
    AbandonImage("reset");
    m_env.report.AddReset(frame.wire);
    m_wasReset = true;
    if (m_env.line.GetBaud() != ROM_BAUD) {
        m_env.line.SetBaud(ROM_BAUD);
        m_env.report.AddBaudChange(ROM_BAUD);
    }
    if (m_ssbInFlash) {
        EnterSsb("reset: the stored ssb starts");
    } else {
        EnterRom("reset: the ROM talks again");
    }
}

bool TypeSixBoard::ExpectLength(const Command& cmd, size_t length, const char* name)
{
    if (cmd.Size() == length) {
        return true;
    }
    Refuse(cmd, std::string(name) + " frame of " + std::to_string(cmd.Size()) + " bytes, expected " +
                    std::to_string(length));
    return false;
}

bool TypeSixBoard::ExpectExitLength(const Command& cmd, const char* name)
{
    // Exit frames get no answer, so a bad one is only noted.
    if (cmd.Size() == 3) {
        return true;
    }
    Error(std::string(name) + " frame of " + std::to_string(cmd.Size()) + " bytes ignored");
    return false;
}

bool TypeSixBoard::ExpectFinishedApp(const Command& cmd, const char* name)
{
    if (m_image.kind != ImageKind::App || !m_image.ended) {
        Refuse(cmd, std::string(name) + " outside a finished application image");
        return false;
    }
    uint8_t fileType = cmd.payload[2];
    if (fileType != m_image.fileType) {
        Refuse(cmd, std::string(name) + " for file type " + std::to_string(fileType) + " in an image of file type " +
                        std::to_string(m_image.fileType));
        return false;
    }
    return true;
}

void TypeSixBoard::ReadVersion(const Command& cmd)
{
    if (ExpectLength(cmd, 3, "read version")) {
        Answer(cmd, true, std::vector<uint8_t>(std::begin(VERSION_DATA), std::end(VERSION_DATA)));
    }
}

void TypeSixBoard::NoteDigestLength(size_t digestLength, const char* name)
{
    if (digestLength != 0 && digestLength != 32) {
        Error(std::string(name) + " of " + std::to_string(digestLength) + " bytes");
    }
}

int TypeSixBoard::CheckDigest(const uint8_t* data, size_t length, const uint8_t* digest, size_t digestLength)
{
    if (digestLength == 0) {
        return -1;
    }
    if (digestLength != 32) {
        return 0;
    }
    Sha256::Digest actual = Sha256::Of(data, length);
    return std::equal(actual.begin(), actual.end(), digest) ? 1 : 0;
}

size_t TypeSixBoard::FindDigestLength(const Image& image, const uint8_t* digest)
{
    size_t received = image.data.size();
    size_t packet = std::max<size_t>(image.packetSize, 1);
    if (received == 0) {
        return 0;
    }
    // The last frame carried 1 to packet-size bytes of the image.
    size_t base = received - std::min(received, packet);
    Sha256 sha;
    sha.Update(image.data.data(), base);
    for (size_t length = base + 1; length <= received; ++length) {
        sha.Update(image.data.data() + length - 1, 1);
        Sha256::Digest actual = sha.Final();
        if (std::equal(actual.begin(), actual.end(), digest)) {
            return length;
        }
    }
    return received;
}

void TypeSixBoard::AbandonImage(const char* why)
{
    if (m_image.kind != ImageKind::None) {
        m_env.report.AddEvent(m_image.name + " image abandoned after " + std::to_string(m_image.data.size()) +
                              " bytes: " + why);
    }
    m_image = Image();
}

void TypeSixBoard::RecordImage(const std::string& kind, uint64_t address, int fileType, const uint8_t* data,
                               size_t length, int digestMatched, uint64_t regionSize)
{
    ImageRecord record;
    record.kind = kind;
    record.address = address;
    record.fileType = fileType;
    record.length = length;
    record.sha256 = Sha256::Hex(Sha256::Of(data, length));
    record.digestMatched = digestMatched;
    record.regionSize = regionSize;
    m_env.report.AddImage(record);
}

void TypeSixBoard::EnterRom(const char* why)
{
    Enter(Stage::Rom, why);
}

void TypeSixBoard::EnterSsb(const char* why)
{
    Enter(Stage::Ssb, why);
}

void TypeSixBoard::Enter(Stage stage, const char* why)
{
    AbandonImage(why);
    m_stage = stage;
    m_load = SsbLoad();
    m_lastFrame.clear();
    m_env.report.AddEvent(why);
    Announce(stage == Stage::Rom ? ROM_TEXT : SSB_TEXT);
}

void TypeSixBoard::Announce(const std::string& text)
{
    m_text = text;
    m_spokenTo = false;
    Write(std::vector<uint8_t>(text.begin(), text.end()));
    m_lastTextMs = m_lastTickMs;
}

void TypeSixBoard::Answer(const Command& cmd, bool ok, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> payload{cmd.seq, ACK_VALUE, cmd.code, ok ? RETURN_OK : RETURN_FAILED};
    payload.insert(payload.end(), data.begin(), data.end());
    payload.push_back(TypeSixCheck(payload.data(), payload.size()));
    if (ok) {
        m_lastFrame = cmd.payload;
        m_lastAnswer = payload;
    }
    SendAnswer(payload);
}

void TypeSixBoard::Refuse(const Command& cmd, const std::string& why)
{
    Error("command " + CodeName(cmd.code) + " refused: " + why);
    Answer(cmd, false);
}

void TypeSixBoard::SendAnswer(const std::vector<uint8_t>& payload)
{
    const AnswerFate fate = m_env.faults.TakeAnswer(payload[2]);
    const std::string answer = "fault: answer " + std::to_string(m_env.report.GetTally().answers);
    std::vector<uint8_t> sent = payload;
    if (fate.negative && sent[3] != RETURN_FAILED) {
        sent.resize(4);  // a refusal carries no data
        sent[3] = RETURN_FAILED;
        sent.push_back(TypeSixCheck(sent.data(), sent.size()));
    }
    if (fate.dropped) {
        m_env.report.AddEvent(answer + " dropped");
        return;
    }
    if (fate.garbled && fate.garble == Garble::CHECK) {
        sent.back() = static_cast<uint8_t>(sent.back() ^ 0xFF);
        m_env.report.AddEvent(answer + " has a broken check");
    }
    std::vector<uint8_t> wire = WrapTypeSixPayload(sent);
    if (fate.garbled && fate.garble != Garble::CHECK) {
        SpoilOnLine(wire, fate.garble);
        m_env.report.AddEvent(answer + (fate.garble == Garble::BIT ? " has a flipped bit" : " is cut short"));
    }
    Write(wire);
}

void TypeSixBoard::Write(const std::vector<uint8_t>& bytes)
{
    if (!m_env.faults.Plan().silent) {
        m_env.line.Write(bytes);
    } else if (!m_silenceNoted) {
        m_env.faults.Fired(FaultSchedule::Flag::SILENT, "the boot text withheld");
        m_silenceNoted = true;
    }
}

void TypeSixBoard::Error(const std::string& text)
{
    m_env.report.AddProtocolError(text);
}

}  // namespace Sim
