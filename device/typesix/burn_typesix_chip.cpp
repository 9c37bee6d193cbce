#include "device/typesix/burn_typesix_chip.h"

#include <new>

#include "common/common_util.h"
#include "common/console.h"
#include "common/file_helpers.h"
#include "platform/monotonic_clock.h"
#include "common/fwpkg_format.h"
#include "device/typesix/typesix_frames.h"
#include "device/typesix/typesix_ser_cus_pro.h"
#include "device/typesix_chip_factory.h"

namespace {

// Wait for bytes between two looks at the board; returns at once when some arrive.
constexpr uint32_t POLL_MS = 5;

constexpr unsigned long FRAME_TIME_OUT = 500;
constexpr unsigned long FRAME_TOTAL_TIMEOUT = 30000;
constexpr unsigned long FRAME_SEND_EARSE_TIMEOUT = 2000;
constexpr unsigned long SEND_ERASE_TIME_OUT = 180000;
constexpr unsigned long ERASE_TIME_OUT = 300000;

constexpr size_t MAX_FILE_COUNTS = 5;
constexpr size_t KEYSTORE_INDEX = 2;
constexpr size_t CERTIFICATE_INDEX = 3;
constexpr size_t SIGNATURE_INDEX = 4;

int Percent(uint32_t done, uint32_t total)
{
    return static_cast<int>(100.0f * (static_cast<float>(done) / static_cast<float>(total)));
}

uint32_t ReadLe32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

bool Has(const std::string& text, const char* mark)
{
    return text.find(mark) != std::string::npos;
}

}  // namespace

std::unique_ptr<BurnChipBase> NewTypeSixChip()
{
    return std::unique_ptr<BurnChipBase>(new (std::nothrow) BurnTypeSixChip());
}

BurnTypeSixChip::~BurnTypeSixChip()
{
    // The protocol may point at digests in the package buffer.
    m_downloadProtocol.reset();
}

void BurnTypeSixChip::SetOnlyBurnNames(const std::vector<std::string>& /*names*/) {}

std::vector<std::string> BurnTypeSixChip::GetOnlyBurnNames() const
{
    return {};
}

// --- waiting for the board -----------------------------------------------------------

bool BurnTypeSixChip::ShouldStop()
{
    return CheckIsCancel() || LineLost();
}

bool BurnTypeSixChip::PollBoardText(std::string& text)
{
    WaitForData(POLL_MS);
    uint8_t bytes[MAX_FRAME_LEN];
    const unsigned long got = Receive(bytes, sizeof(bytes));
    if (got == 0) {
        return false;
    }
    TypeSixFrames::AppendBoardText(text, bytes, got);
    return true;
}

void BurnTypeSixChip::DiscardPending()
{
    uint8_t bytes[MAX_FRAME_LEN];
    while (Receive(bytes, sizeof(bytes)) > 0) {
    }
}

BurnTypeSixChip::AnswerWait BurnTypeSixChip::CollectAnswer(
    unsigned long window, const std::function<int(const uint8_t*, size_t)>& examine)
{
    m_answerBuffer.resize(MAX_RECV_BUFFER_SIZE);
    size_t count = 0;
    const uint32_t start = Common::GetTime();
    while (Common::GetTime() - start < window) {
        if (ShouldStop()) {
            return AnswerWait::ABORTED;
        }
        WaitForData(POLL_MS);
        const unsigned long got = Receive(m_answerBuffer.data() + count, MAX_FRAME_LEN);
        if (got == 0) {
            continue;
        }
        count += got;
        if (count > MAX_GATHERED) {
            return AnswerWait::TIMED_OUT;  // nothing useful in all that: send again
        }
        switch (examine(m_answerBuffer.data(), count)) {
            case 0:
                return AnswerWait::REJECTED;
            case 1:
                return AnswerWait::ACCEPTED;
            default:
                break;
        }
    }
    return AnswerWait::TIMED_OUT;
}

// --- frames --------------------------------------------------------------------------

uint8_t BurnTypeSixChip::NextSequence()
{
    return static_cast<uint8_t>(m_frameSequence++ & 0xFFu);
}

bool BurnTypeSixChip::SendFrame(unsigned char* data, unsigned long length, unsigned long attemptTimeout,
                                unsigned long totalTimeout, bool /*unused*/)
{
    const std::vector<uint8_t> frame = Common::GetDouble5CFrameData(data, static_cast<uint32_t>(length));
    const unsigned long frameLength = static_cast<unsigned long>(frame.size());
    const auto examine = [this](const uint8_t* bytes, size_t count) {
        return CheckRecvData(bytes, static_cast<unsigned long>(count));
    };
    const uint32_t start = Common::GetTime();
    while (Common::GetTime() - start < totalTimeout) {
        if (ShouldStop()) {
            return false;
        }
        if (Send(frame.data(), frameLength) < frameLength) {
            continue;
        }
        Common::PrintSendRecv(0, frame.data(), static_cast<uint32_t>(frameLength));
        switch (CollectAnswer(attemptTimeout, examine)) {
            case AnswerWait::ACCEPTED:
                return true;
            case AnswerWait::REJECTED:
            case AnswerWait::ABORTED:
                return false;
            case AnswerWait::TIMED_OUT:
                break;
        }
    }
    Common::PrintInfo(GetThisPtr(), Common::DEBUG_INFO, "Timeout error.\n");
    return false;
}

int BurnTypeSixChip::CheckRecvData(const unsigned char* data, unsigned long length) const
{
    std::vector<uint8_t> payload;
    if (!TypeSixFrames::UnwrapFirstFrame(data, length, payload)) {
        return 2;
    }
    Common::PrintSendRecv(1, payload.data(), static_cast<uint32_t>(payload.size()));
    TypeSixFrames::Answer answer;
    if (!TypeSixFrames::ReadAnswer(payload, answer)) {
        // Too short to be an answer; the attempt runs out and the frame goes again.
        Common::PrintInfo(GetThisPtr(), Common::DEBUG_INFO, "answer of %zu bytes is too short.\n", payload.size());
        return 2;
    }
    if (answer.ack != TypeSixFrames::ACK_VALUE) {
        Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "ack error1:%d\n", answer.ack);
        return 0;
    }
    if (answer.returnCode != TypeSixFrames::RETURN_CODE_VALUE) {
        Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "return code error:%d\n", answer.returnCode);
        return 0;
    }
    if (!answer.CheckMatches()) {
        Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO,
                          "the calculated  crc:%d is not equal to the received crc:%d.\n", answer.computedCheck,
                          answer.check);
        return 0;
    }
    return 1;
}

bool BurnTypeSixChip::SendCommand(const std::vector<uint8_t>& payload, unsigned long attemptTimeout,
                                  unsigned long totalTimeout)
{
    std::vector<uint8_t> bytes = payload;
    return SendFrame(bytes.data(), static_cast<unsigned long>(bytes.size()), attemptTimeout, totalTimeout, true);
}

bool BurnTypeSixChip::SendRaw(const std::vector<uint8_t>& payload)
{
    // Wrapped like every other frame: a 5C in the sequence or check byte is doubled.
    const std::vector<uint8_t> frame = TypeSixFrames::Wrap(payload);
    const unsigned long frameLength = static_cast<unsigned long>(frame.size());
    return Send(frame.data(), frameLength) == frameLength;
}

bool BurnTypeSixChip::SendExitFrame()
{
    return SendRaw(TypeSixFrames::Exit(NextSequence()));
}

bool BurnTypeSixChip::Reset()
{
    const std::vector<uint8_t> frame = TypeSixFrames::Wrap(TypeSixFrames::ResetPayload(0x00));
    const unsigned long frameLength = static_cast<unsigned long>(frame.size());
    if (Send(frame.data(), frameLength) != frameLength) {
        return false;
    }
    ReSettingSerialParameters(ROM_BAUD_RATE, 0, 0);
    return true;
}

// --- handshake ---------------------------------------------------------------------------

BurnTypeSixChip::BoardText BurnTypeSixChip::AwaitBoardText(uint32_t start, std::string& text)
{
    for (;;) {
        if (ShouldStop()) {
            return BoardText::STOPPED;
        }
        if (m_handshakeTimeout != NO_HANDSHAKE_LIMIT && Common::GetTime() - start > m_handshakeTimeout) {
            return BoardText::TIMED_OUT;
        }
        if (!PollBoardText(text)) {
            continue;
        }
        if (Has(text, TypeSixFrames::ROM_TEXT)) {
            return BoardText::ROM;
        }
        if (Has(text, TypeSixFrames::SSB_TEXT)) {
            return BoardText::SSB;
        }
    }
}

bool BurnTypeSixChip::ShakeHand()
{
    const uint32_t start = Common::GetTime();
    std::string text;
    for (;;) {
        switch (AwaitBoardText(start, text)) {
            case BoardText::ROM:
                SetProgress(0);
                return true;
            case BoardText::SSB:
                // An ssb still runs: erase it, and the ROM speaks again.
                if (!EraseSsb()) {
                    return false;
                }
                text.clear();
                break;
            case BoardText::TIMED_OUT:
                Common::Print("ready failed.\n");
                return false;
            case BoardText::STOPPED:
                return false;
        }
    }
}

bool BurnTypeSixChip::WaitSsbRunning()
{
    std::string text;
    // ROM text means the board fell back to its ROM.
    return AwaitBoardText(Common::GetTime(), text) == BoardText::SSB;
}

bool BurnTypeSixChip::EraseSsb()
{
    if (!SendCommand(TypeSixFrames::EraseSsbInit(), FRAME_TIME_OUT, FRAME_TOTAL_TIMEOUT)) {
        Common::Print("erase init failed.\n");
        return false;
    }
    if (!SendCommand(TypeSixFrames::EraseSsb(), FRAME_SEND_EARSE_TIMEOUT, FRAME_TOTAL_TIMEOUT)) {
        Common::Print("erase ssb failed.\n");
        return false;
    }
    if (!SendExitFrame()) {
        Common::Print("send exit frame failed!\n");
        return false;
    }
    return true;
}

bool BurnTypeSixChip::InitBoard()
{
    m_frameSequence = 0;
    if (!SendCommand(TypeSixFrames::Init(NextSequence()), FRAME_TIME_OUT, FRAME_TOTAL_TIMEOUT)) {
        Common::Print("send init cmd failed\n");
        return false;
    }
    if (!SendCommand(TypeSixFrames::ReadVersion(NextSequence()), FRAME_TIME_OUT, FRAME_TOTAL_TIMEOUT)) {
        Common::Print("read version info failed.\n");
        return false;
    }
    return true;
}

// --- load list ------------------------------------------------------------------------------

bool BurnTypeSixChip::ReadWhole(const std::string& path, OwnedData& into)
{
    uint32_t size = 0;
    std::unique_ptr<uint8_t[]> bytes = Common::GetFileData(path, size, GetThisPtr());
    if (!bytes) {
        return false;
    }
    into.bytes = std::move(bytes);
    into.length = size;
    return true;
}

bool BurnTypeSixChip::FilePrepare(const std::string& spec)
{
    const long long handle = GetThisPtr();
    const std::vector<std::string> fields = CommonUtil::Split(spec, '|');
    if (fields.size() < 2) {
        Common::PrintInfo(handle, Common::NORMAL_INFO, "Invalid file format: %s\n", spec.c_str());
        return false;
    }
    // Security files of an earlier load must not go out with this one.
    m_keyStore = OwnedData();
    m_certificate = OwnedData();
    m_signature = OwnedData();
    if (!ReadWhole(fields[0], m_ssbBuffer)) {
        Common::PrintInfo(handle, Common::NORMAL_INFO, "get ssb file content failed: %s\n", fields[0].c_str());
        return false;
    }
    m_ssb = {m_ssbBuffer.bytes.get(), m_ssbBuffer.length};
    if (!ReadWhole(fields[1], m_ssbDigestBuffer)) {
        Common::PrintInfo(handle, Common::NORMAL_INFO, "get sha file content failed: %s\n", fields[1].c_str());
        return false;
    }
    m_ssbDigest = {m_ssbDigestBuffer.bytes.get(), m_ssbDigestBuffer.length};
    if (!SsbPacketCountFits(m_ssb.length, "ssb")) {
        return false;
    }
    if (fields.size() != MAX_FILE_COUNTS) {
        return true;
    }
    struct Optional {
        size_t index;
        OwnedData& into;
        const char* failure;
    };
    const Optional optionals[] = {
        {KEYSTORE_INDEX, m_keyStore, "get key store content failed: %s\n"},
        {CERTIFICATE_INDEX, m_certificate, "get certificate content failed: %s\n"},
        {SIGNATURE_INDEX, m_signature, "get signature content failed: %s\n"},
    };
    for (const Optional& optional : optionals) {
        const std::string& path = fields[optional.index];
        if (!path.empty() && !ReadWhole(path, optional.into)) {
            Common::PrintInfo(handle, Common::NORMAL_INFO, optional.failure, path.c_str());
            return false;
        }
    }
    return true;
}

// --- ssb load --------------------------------------------------------------------------------

bool BurnTypeSixChip::SsbPacketCountFits(uint32_t length, const char* what)
{
    const uint32_t packetSize = GetPerPacketSize();
    if (packetSize < 1) {
        return true;  // refused where the packets are cut
    }
    const uint64_t packets = (static_cast<uint64_t>(length) + packetSize - 1) / packetSize;
    if (packets <= TypeSixFrames::MAX_SSB_PACKETS) {
        return true;
    }
    Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO,
                      "the %s of %u bytes needs %llu packets of %u bytes, but at most %u can be numbered.\n", what,
                      length, static_cast<unsigned long long>(packets), packetSize, TypeSixFrames::MAX_SSB_PACKETS);
    return false;
}

bool BurnTypeSixChip::SendSsbData(unsigned short number, const unsigned char* data, unsigned long length,
                                  bool /*last*/)
{
    const std::vector<uint8_t> packet =
        TypeSixFrames::SsbPacket(NextSequence(), number, data, length, GetPerPacketSize());
    if (packet.empty()) {
        return false;
    }
    return SendCommand(packet, FRAME_TIME_OUT, FRAME_TOTAL_TIMEOUT);
}

bool BurnTypeSixChip::FsbWritePage(const uint8_t* data, uint32_t length)
{
    const uint32_t packetSize = GetPerPacketSize();
    if (packetSize < 1 || !SsbPacketCountFits(length, "ssb")) {
        return false;
    }
    const uint32_t packets = static_cast<uint32_t>((static_cast<uint64_t>(length) + packetSize - 1) / packetSize);
    uint32_t offset = 0;
    for (uint32_t number = 0; number < packets; ++number) {
        if (CheckIsCancel()) {
            return false;  // the cancel check has told the user
        }
        const bool last = number + 1 == packets;
        const uint32_t rest = length % packetSize;
        const uint32_t size = (last && rest != 0) ? rest : packetSize;
        if (!SendSsbData(static_cast<unsigned short>(number), data + offset, size, last)) {
            Common::Print("failed to send data packet.\n");
            return false;
        }
        Common::Print("#");
        offset += size;
        if (length > packetSize) {
            SetProgress(Percent(offset, length));
        }
    }
    return true;
}

bool BurnTypeSixChip::SendShaData(const uint8_t* digest, uint32_t length, uint32_t imageLength)
{
    return SendCommand(TypeSixFrames::SsbDigest(NextSequence(), imageLength, digest, length), FRAME_TIME_OUT,
                       FRAME_TOTAL_TIMEOUT);
}

bool BurnTypeSixChip::SendSecurityFrame(const std::vector<uint8_t>& payload, const char* what)
{
    if (payload.empty()) {
        Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "the %s is longer than %zu bytes.\n", what,
                          TypeSixFrames::MAX_SECURITY_DATA);
        return false;
    }
    return SendCommand(payload, FRAME_TIME_OUT, FRAME_TOTAL_TIMEOUT);
}

bool BurnTypeSixChip::SendKeyStoreData()
{
    return SendSecurityFrame(TypeSixFrames::KeyStore(NextSequence(), m_keyStore.bytes.get(), m_keyStore.length),
                             "key store");
}

bool BurnTypeSixChip::SendCertificateData()
{
    return SendSecurityFrame(
        TypeSixFrames::Certificate(NextSequence(), m_certificate.bytes.get(), m_certificate.length), "certificate");
}

bool BurnTypeSixChip::SendSignatureData()
{
    return SendSecurityFrame(TypeSixFrames::Signature(NextSequence(), m_signature.bytes.get(), m_signature.length),
                             "signature");
}

bool BurnTypeSixChip::DownloadBootData()
{
    if (!FsbWritePage(m_ssb.data, m_ssb.length)) {
        Common::Print("fsb write page failed\n");
        return false;
    }
    if (!SendShaData(m_ssbDigest.data, m_ssbDigest.length, m_ssb.length)) {
        Common::Print("send sha data failed\n");
        return false;
    }
    if (m_keyStore.Present() && !SendKeyStoreData()) {
        Common::Print("send keystore data failed\n");
        return false;
    }
    if (m_certificate.Present() && !SendCertificateData()) {
        Common::Print("send certificate data failed\n");
        return false;
    }
    if (m_signature.Present() && !SendSignatureData()) {
        Common::Print("send signature data failed\n");
        return false;
    }
    if (!SendExitFrame()) {
        Common::Print("send exit frame failed!\n");
        return false;
    }
    if (!GetIsReady() && !WaitSsbRunning()) {
        Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "Ssb running failed\xEF\xBC\x8C" "codeloader not received!\n");
        return false;
    }
    Common::Print("load ssb success.\n");
    return true;
}

bool BurnTypeSixChip::StartRomLoad(uint32_t length, const char* what)
{
    if (!SsbPacketCountFits(length, what)) {
        return false;
    }
    if (!ShakeHand()) {
        Common::Print("shake hand failed!\n");
        return false;
    }
    if (!InitBoard()) {
        Common::Print("init board failed!\n");
        return false;
    }
    return true;
}

bool BurnTypeSixChip::DownloadSsb()
{
    return StartRomLoad(m_ssb.length, "ssb") && DownloadBootData();
}

bool BurnTypeSixChip::DownloadSmallSsb()
{
    if (!StartRomLoad(m_smallSsb.length, "small ssb")) {
        return false;
    }
    if (!FsbWritePage(m_smallSsb.data, m_smallSsb.length)) {
        Common::Print("fsb write page failed!\n");
        return false;
    }
    if (!SendShaData(m_smallSsbDigest.data, m_smallSsbDigest.length, m_smallSsb.length)) {
        Common::Print("send sha data failed!\n");
        return false;
    }
    if (!SendExitFrame()) {
        Common::Print("send exit frame failed!\n");
        return false;
    }
    Common::Print("load small ssb success.\n");
    return true;
}

// --- erase all ----------------------------------------------------------------------------------

bool BurnTypeSixChip::EraseAllFlash()
{
    if (!WaitSsbRunning()) {
        return false;
    }
    Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "Erasing all images ...\nIt takes a few minutes.");
    m_frameSequence = 0;
    if (!SendCommand(TypeSixFrames::Init(NextSequence()), FRAME_TIME_OUT, FRAME_TOTAL_TIMEOUT)) {
        Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "Send init cmd failed");
        return false;
    }
    if (!SendCommand(TypeSixFrames::EraseAll(NextSequence()), SEND_ERASE_TIME_OUT, ERASE_TIME_OUT)) {
        Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO,
                          "The erasure failed. \nIt may be because the version does not support the full erase "
                          "function.\nPlease update the version.");
        return false;
    }
    return SendRaw(TypeSixFrames::EraseAllExit(NextSequence()));
}

// --- whole package -------------------------------------------------------------------------------

void BurnTypeSixChip::ForgetPackage()
{
    // Views into an earlier package must not outlive its buffer.
    m_downloadProtocol.reset();
    m_partitionList.clear();
    m_ssb = View();
    m_ssbDigest = View();
    m_smallSsb = View();
    m_smallSsbDigest = View();
    m_hasSmallSsbDigest = false;
    m_package = OwnedData();
    m_fileLength = 0;
}

bool BurnTypeSixChip::ParseFile(const char* path)
{
    const long long handle = GetThisPtr();
    const std::string file = path != nullptr ? path : "";
    OwnedData package;
    if (!ReadWhole(file, package)) {
        Common::PrintInfo(handle, Common::NORMAL_INFO, "get file content failed: %s\n", file.c_str());
        return false;
    }
    if (package.length < sizeof(uint32_t)) {
        Common::Print("error: memcpy_s failed.\n");
        return false;
    }
    const uint32_t flag = ReadLe32(package.bytes.get());
    ForgetPackage();
    m_package = std::move(package);
    m_fileLength = m_package.length;
    if (flag == Common::FWPKG_FLAG_NORMAL) {
        return ParseNormalFwpkg(m_package.bytes.get(), m_package.length);
    }
    if (flag >= Common::FWPKG_FLAG_NEW_START && flag <= Common::FWPKG_FLAG_NEW_END_TYPESIX_CHIP) {
        return ParseNewFwpkg(m_package.bytes.get(), m_package.length);
    }
    Common::PrintInfo(handle, Common::NORMAL_INFO, "invalid flag value:%ld.\n", static_cast<long>(flag));
    return false;
}

bool BurnTypeSixChip::ParseNormalFwpkg(unsigned char* data, unsigned long length)
{
    return ParseFwpkg(data, length, false);
}

bool BurnTypeSixChip::ParseNewFwpkg(unsigned char* data, unsigned long length)
{
    return ParseFwpkg(data, length, true);
}

bool BurnTypeSixChip::ParseFwpkg(const uint8_t* data, unsigned long length, bool newLayout)
{
    Common::FwpkgTable table;
    const Common::FwpkgCheck check =
        Common::CheckFwpkgTable(data, length, length, Common::FWPKG_MAX_IMAGE_COUNT, table);
    switch (check) {
        case Common::FwpkgCheck::OK:
            break;
        case Common::FwpkgCheck::CRC_MISMATCH:
            Common::Print(Common::FormatInfo("the calculated  crc:%d is not equal to fwpkg crc:%d.\n",
                                             table.computedCrc, table.head.crc)
                              .c_str());
            return false;
        case Common::FwpkgCheck::ENTRY_PAST_END: {
            // Burning it would send whatever lies past the package as image bytes.
            if (table.badEntry >= table.entries.size()) {
                Common::Print("an image reaches past the end of the package.\n");
                return false;
            }
            const Common::FileHead& bad = table.entries[table.badEntry];
            Common::Print(Common::FormatInfo("image %s reaches past the end of the package (offset %u, length %u, "
                                             "package length %lu).\n",
                                             bad.Name().c_str(), bad.offset, bad.length, length)
                              .c_str());
            return false;
        }
        case Common::FwpkgCheck::COUNT_INVALID:
        case Common::FwpkgCheck::TOO_MANY_IMAGES:
            Common::Print(newLayout ? "too many image or the header data length is greater than the file length!\n"
                                    : "too many image!\n");
            return false;
        default:
            Common::Print(newLayout ? "too many image or the header data length is greater than the file length!\n"
                                    : "the header data length is greater than the file length!\n");
            return false;
    }
    for (const Common::FileHead& entry : table.entries) {
        const uint8_t* image = data + entry.offset;
        switch (entry.type) {
            case Common::TYPESIX_IMAGE_SSB:
                m_ssb = {image, entry.length};
                break;
            case Common::TYPESIX_IMAGE_SSB_DIGEST:
                m_ssbDigest = {image, entry.length};
                break;
            case Common::TYPESIX_IMAGE_SMALL_SSB:
                m_smallSsb = {image, entry.length};
                break;
            case Common::TYPESIX_IMAGE_SMALL_SSB_DIGEST:
                m_smallSsbDigest = {image, entry.length};
                m_hasSmallSsbDigest = true;
                break;
            default:
                m_partitionList.push_back(
                    {entry.Name(), entry.length, entry.type, entry.burnAddress, entry.burnSize, image});
                break;
        }
    }
    return true;
}

bool BurnTypeSixChip::InitShaData(const std::string& name)
{
    if (!m_downloadProtocol) {
        return false;
    }
    for (const PartitionItem& item : m_partitionList) {
        if (item.imageType == Common::TYPESIX_IMAGE_DIGEST && name.find(item.name) != std::string::npos) {
            m_downloadProtocol->SetShaData(item.data, item.length);
            return true;
        }
    }
    return false;
}

bool BurnTypeSixChip::BurnPartitions()
{
    for (const PartitionItem& item : m_partitionList) {
        int fileType = 0;
        if (Common::TypeSixChipFileType(item.imageType, fileType)) {
            m_downloadProtocol->SetFileType(fileType);
        }
        if (item.imageType == Common::TYPESIX_IMAGE_FLASH || item.imageType == Common::TYPESIX_IMAGE_EMMC) {
            if (!InitShaData(item.name)) {
                Common::Print(
                    Common::FormatInfo("the sha256.bin file of file %s is not found.\n", item.name.c_str()).c_str());
                return false;
            }
        } else {
            // Another image's digest must not go out with this one.
            m_downloadProtocol->SetShaData(nullptr, 0);
        }
        if (!m_downloadProtocol->DownloadData(item.data, item.length, item.burnAddress, item.burnSize)) {
            return false;
        }
        Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "burn %s successfully.\n", item.name.c_str());
    }
    return true;
}

bool BurnTypeSixChip::DownloadAllinoneBin(const char* path, unsigned long /*address*/)
{
    if (!ParseFile(path)) {
        Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "parse file:%s failed!\n", path != nullptr ? path : "");
        return false;
    }
    // Refused before anything is sent, not after the small ssb went.
    if ((m_hasSmallSsbDigest && !SsbPacketCountFits(m_smallSsb.length, "small ssb")) ||
        !SsbPacketCountFits(m_ssb.length, "ssb")) {
        return false;
    }
    if (m_hasSmallSsbDigest && !DownloadSmallSsb()) {
        Common::Print("load small ssb failed.\n");
        return false;
    }
    if (!DownloadSsb()) {
        Common::Print("load ssb failed.\n");
        return false;
    }
    m_downloadProtocol.reset(new (std::nothrow) TypeSixSerCusPro(this));
    if (!m_downloadProtocol) {
        Common::Print("new download protocol failed.\n");
        return false;
    }
    const bool burned = BurnPartitions();
    m_downloadProtocol.reset();
    return burned;
}
