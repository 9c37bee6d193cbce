#include "sim/vb27_board.h"

#include "sim/fault_schedule.h"
#include "sim/sim_sha256.h"

#include <algorithm>
#include <cstdio>

namespace Sim {

namespace {

using namespace Vb27;

constexpr uint32_t UNBOUNDED_REGION = 0xF0FFFFFF;  // region sizes from here on are not rounded
constexpr uint32_t ERASE_ALL_REGION = 0xFFFFFFFF;
constexpr size_t SKIPPED_SHOWN = 16;
const char* const READ_BACK_NAME = "flash.bin";

std::string Hex32(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

std::string CodeName(uint8_t code)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", code);
    return text;
}

// The handshake and the baud switch carry the same line settings after the rate.
bool LineSettingsValid(const Frame& frame)
{
    const uint8_t* p = frame.Parameters() + 4;
    return p[0] == 0x08 && p[1] == 0x01 && p[2] == 0x00 && p[3] == 0x00;
}

}  // namespace

std::unique_ptr<Board> MakeVb27Board(BoardEnv env, bool qn4180)
{
    return std::make_unique<Vb27Board>(env, qn4180);
}

Vb27Board::Vb27Board(BoardEnv env, bool qn4180) : m_env(env), m_qn4180(qn4180), m_romBaud(env.line.GetBaud())
{
    m_env.report.SetFamily(qn4180 ? "qn4180" : "vb27");
}

void Vb27Board::OnBytes(const uint8_t* data, size_t length)
{
    if (length == 0) {
        return;
    }
    if (m_env.faults.Plan().silent) {
        if (!m_silentNoted) {
            m_env.report.AddEvent("silent board: everything received is ignored");
            m_env.faults.Fired(FaultSchedule::Flag::SILENT, "the tool's first bytes ignored");
            m_silentNoted = true;
        }
        return;
    }
    m_lastByteMs = m_now;
    m_in.insert(m_in.end(), data, data + length);
    Process();
}

void Vb27Board::OnTick(int64_t nowMs)
{
    m_now = nowMs;
    if (m_receiver) {
        m_receiver->Tick(nowMs);
        TakeErrors(m_receiver->TakeErrors(), m_image.kind);
        if (m_receiver->Finished()) {
            FinishTransfer();
        }
    }
    if (m_sender) {
        m_sender->Tick(nowMs);
        if (m_sender->Finished()) {
            FinishUpload();
        }
    }
    Process();
    if (nowMs - m_lastByteMs < FRAME_GAP_MS) {
        return;
    }
    FlushSkipped();
    const bool commandMode = m_mode == Mode::ROM || m_mode == Mode::LOADER;
    if (commandMode && !m_in.empty()) {
        Error("incomplete frame of " + std::to_string(m_in.size()) + " bytes dropped");
        m_in.clear();
    }
}

void Vb27Board::Process()
{
    bool progress = true;
    while (progress && !m_in.empty()) {
        switch (m_mode) {
        case Mode::ROM:
        case Mode::LOADER:
            progress = ProcessCommandBytes();
            break;
        case Mode::LOADER_TRANSFER:
        case Mode::IMAGE_TRANSFER:
            progress = ProcessTransferBytes();
            break;
        case Mode::UPLOAD:
            progress = ProcessUploadBytes();
            break;
        }
    }
}

bool Vb27Board::ProcessCommandBytes()
{
    if (m_swallowC) {
        if (m_in.front() == Ymodem::C) {
            m_in.erase(m_in.begin());
            return true;
        }
        m_swallowC = false;
    }
    ParseResult r = ParseCommandFrame(m_in.data(), m_in.size());
    switch (r.status) {
    case ParseStatus::NEED_MORE:
        return false;
    case ParseStatus::NOT_A_FRAME:
        if (m_skipped.size() < SKIPPED_SHOWN) {
            m_skipped.push_back(m_in.front());
        }
        ++m_skippedCount;
        m_in.erase(m_in.begin());
        return true;
    case ParseStatus::BAD_FRAME:
        FlushSkipped();
        m_in.erase(m_in.begin(), m_in.begin() + static_cast<std::ptrdiff_t>(r.consumed));
        HandleBadFrame(r);
        return true;
    case ParseStatus::FRAME:
        FlushSkipped();
        m_in.erase(m_in.begin(), m_in.begin() + static_cast<std::ptrdiff_t>(r.consumed));
        OnFrame(r.frame);
        return true;
    }
    return false;
}

bool Vb27Board::ProcessTransferBytes()
{
    if (m_receiver->Idle() && m_in.front() == START_FLAG[0]) {
        // Before block 0 the tool may still repeat the frame that started this.
        ParseResult r = ParseCommandFrame(m_in.data(), m_in.size());
        if (r.status == ParseStatus::NEED_MORE) {
            return false;
        }
        if (r.status != ParseStatus::NOT_A_FRAME) {
            m_in.erase(m_in.begin(), m_in.begin() + static_cast<std::ptrdiff_t>(r.consumed));
            if (r.status == ParseStatus::FRAME) {
                OnFrame(r.frame);
            } else {
                HandleBadFrame(r);
            }
            return true;
        }
    }
    size_t count = m_in.size();
    if (m_receiver->Idle()) {
        const auto next = std::find(m_in.begin() + 1, m_in.end(), START_FLAG[0]);
        count = static_cast<size_t>(next - m_in.begin());
    }
    std::vector<uint8_t> chunk(m_in.begin(), m_in.begin() + static_cast<std::ptrdiff_t>(count));
    m_in.erase(m_in.begin(), m_in.begin() + static_cast<std::ptrdiff_t>(count));
    m_receiver->Feed(chunk.data(), chunk.size(), m_now);
    TakeErrors(m_receiver->TakeErrors(), m_image.kind);
    if (m_receiver->Finished()) {
        FinishTransfer();
    }
    return true;
}

bool Vb27Board::ProcessUploadBytes()
{
    std::vector<uint8_t> chunk;
    chunk.swap(m_in);
    m_sender->Feed(chunk.data(), chunk.size(), m_now);
    if (m_sender->Finished()) {
        FinishUpload();
    }
    return true;
}

void Vb27Board::OnFrame(const Frame& frame)
{
    ++m_frames;
    if (m_env.faults.Plan().nakFrame == m_frames) {
        m_env.report.AddEvent("frame " + std::to_string(m_frames) + " (command " + CodeName(frame.code) +
                              ") refused as the fault plan asks");
        m_env.faults.Fired(FaultSchedule::Flag::NAK_FRAME, "frame " + std::to_string(m_frames) + ", command " +
                                                               CodeName(frame.code));
        Answer(frame.code, RESULT_FAILURE, REFUSED_INJECTED);
        return;
    }
    if (Answers(frame) && m_env.faults.NextAnswerIsNegative(frame.code)) {
        m_env.report.AddEvent("command " + CodeName(frame.code) +
                              " refused: its answer is negative as the fault plan asks");
        Answer(frame.code, RESULT_FAILURE, REFUSED_INJECTED);
        return;
    }
    if (frame.code == CODE_RESET) {
        HandleReset(frame);
        return;
    }
    switch (m_mode) {
    case Mode::LOADER_TRANSFER:
    case Mode::IMAGE_TRANSFER:
        HandleFrameDuringTransfer(frame);
        return;
    case Mode::UPLOAD:  // the sender takes every byte; no frame reaches here
        return;
    case Mode::ROM:
    case Mode::LOADER:
        break;
    }
    if (frame.code == CODE_HANDSHAKE) {
        HandleHandshake(frame);
        return;
    }
    if (m_mode == Mode::ROM) {
        Error("command " + CodeName(frame.code) + " before the handshake ignored");
        return;
    }
    switch (frame.code) {
    case CODE_SWITCH_BAUD:
        HandleSwitchBaud(frame);
        return;
    case CODE_UPLOAD:
        HandleUpload(frame);
        return;
    default:
        HandleImageCommand(frame);
        return;
    }
}

bool Vb27Board::Answers(const Frame& frame) const
{
    if (frame.code == CODE_RESET || m_mode == Mode::UPLOAD) {
        return false;
    }
    if (m_mode == Mode::ROM || m_mode == Mode::LOADER_TRANSFER) {
        return frame.code == CODE_HANDSHAKE;
    }
    return true;
}

void Vb27Board::HandleBadFrame(const ParseResult& result)
{
    ++m_frames;
    Error("bad frame: " + result.problem);
    Answer(Tally::NO_COMMAND, RESULT_FAILURE, result.refusal);
}

void Vb27Board::HandleFrameDuringTransfer(const Frame& frame)
{
    if (m_mode == Mode::LOADER_TRANSFER) {
        if (frame.code == CODE_HANDSHAKE) {
            // Handshakes the tool sent before our ACK reached it: answer each.
            ++m_repeatedHandshakes;
            Answer(frame.code, RESULT_SUCCESS, REFUSED_NONE);
        } else {
            Error("command " + CodeName(frame.code) + " before the loader arrived ignored");
        }
        return;
    }
    if (frame.bytes == m_image.command) {
        m_env.report.AddEvent("command " + CodeName(frame.code) + " repeated before its transfer: answered again");
        Answer(frame.code, RESULT_SUCCESS, REFUSED_NONE);
        return;
    }
    Error("transfer of the " + m_image.kind + " image abandoned: command " + CodeName(frame.code) + " came instead");
    m_receiver.reset();
    m_mode = Mode::LOADER;
    if (frame.code == CODE_HANDSHAKE) {
        HandleHandshake(frame);
    } else if (frame.code == CODE_SWITCH_BAUD) {
        HandleSwitchBaud(frame);
    } else if (frame.code == CODE_UPLOAD) {
        HandleUpload(frame);
    } else {
        HandleImageCommand(frame);
    }
}

void Vb27Board::HandleHandshake(const Frame& frame)
{
    if (!LineSettingsValid(frame)) {
        Refuse(frame, REFUSED_PARAMETER, "line settings other than 08 01 00 00");
        return;
    }
    if (m_mode == Mode::LOADER) {
        m_env.report.AddEvent("handshake while the loader ran: the board restarted into its boot ROM");
    }
    const uint32_t baud = frame.ParameterU32(0);
    Answer(frame.code, RESULT_SUCCESS, REFUSED_NONE);
    m_env.report.AddEvent("handshake at " + std::to_string(baud) + " baud");
    if (baud != 0 && baud != m_env.line.GetBaud()) {
        m_env.report.AddBaudChange(baud);  // the tool follows the rate it just offered
    }
    ChangeBaud(baud);
    PendingImage loader;
    loader.kind = "loader";
    StartTransfer(Mode::LOADER_TRANSFER, loader);
}

void Vb27Board::HandleReset(const Frame& frame)
{
    if (frame.Parameters()[0] != 0 || frame.Parameters()[1] != 0) {
        Error("reset frame with reserved bytes that are not zero");
    }
    m_env.report.AddReset(frame.bytes);
    m_wasReset = true;
    m_receiver.reset();
    m_sender.reset();
    m_mode = Mode::ROM;
    if (m_env.line.GetBaud() != m_romBaud) {
        m_env.line.SetBaud(m_romBaud);  // the boot ROM starts at its own rate again
    }
}

void Vb27Board::HandleSwitchBaud(const Frame& frame)
{
    if (!LineSettingsValid(frame)) {
        Refuse(frame, REFUSED_PARAMETER, "line settings other than 08 01 00 00");
        return;
    }
    const uint32_t baud = frame.ParameterU32(0);
    Answer(frame.code, RESULT_SUCCESS, REFUSED_NONE);  // still at the old rate
    m_env.report.AddBaudChange(baud);
    ChangeBaud(baud);
}

void Vb27Board::ChangeBaud(uint32_t baud)
{
    if (baud == 0) {
        m_env.report.AddEvent("baud rate 0 requested: the line stays at " + std::to_string(m_env.line.GetBaud()));
        return;
    }
    if (baud != m_env.line.GetBaud()) {
        m_env.line.SetBaud(baud);
    }
}

void Vb27Board::HandleImageCommand(const Frame& frame)
{
    PendingImage image;
    image.command = frame.bytes;
    const uint8_t* p = frame.Parameters();
    switch (frame.code) {
    case CODE_VERSION:
    case CODE_OTP_EFUSE:
        image.kind = frame.code == CODE_VERSION ? "version" : "otp";
        image.hasLength = true;
        image.length = frame.ParameterU32(0);
        if (!Flash::Fits(0, image.length)) {
            Refuse(frame, REFUSED_PARAMETER, "image length " + Hex32(image.length) + " is too large");
            return;
        }
        break;
    case CODE_FACTORY:
    case CODE_NV_KV:
    case CODE_FLASH_IMAGE: {
        image.hasAddress = true;
        image.hasLength = true;
        image.address = frame.ParameterU32(0);
        image.length = frame.ParameterU32(4);
        image.regionSize = frame.ParameterU32(8);
        const uint8_t* tail = p + 12;
        if (frame.code == CODE_FACTORY) {
            image.kind = "factory";
            if (tail[0] != 0x00 || tail[1] != 0xFF) {
                Refuse(frame, REFUSED_PARAMETER, "factory command must end in 00 FF");
                return;
            }
        } else if (frame.code == CODE_NV_KV) {
            image.kind = "nv";
            if (tail[0] != 0 || tail[1] != 0 || tail[2] != 0 || tail[3] != 0) {
                Refuse(frame, REFUSED_PARAMETER, "NV/KV command must end in 00 00 00 00");
                return;
            }
        } else {
            if (image.address == 0 && image.length == 0 && image.regionSize == ERASE_ALL_REGION) {
                m_env.flash.EraseAll();
                m_env.report.AddErase("all", 0, m_env.flash.Size());
                Answer(frame.code, RESULT_SUCCESS, REFUSED_NONE);
                return;
            }
            const uint8_t format = tail[0];
            if (tail[1] != static_cast<uint8_t>(~format) || (format != 0 && format != 2 && format != 3)) {
                Refuse(frame, REFUSED_PARAMETER, "format bytes " + CodeName(tail[0]) + " " + CodeName(tail[1]));
                return;
            }
            image.kind = format == 2 ? "rom" : (format == 3 ? "emmc" : "flash");
        }
        // Only the flash image command of a Qn4180 rounds its region to 512 bytes.
        const uint32_t step = (frame.code == CODE_FLASH_IMAGE && m_qn4180) ? 512 : 4096;
        if (!CheckRegion(frame, image.address, image.length, image.regionSize, step)) {
            return;
        }
        break;
    }
    default:
        Refuse(frame, REFUSED_UNKNOWN_CODE, "not a loader command");
        return;
    }
    Answer(frame.code, RESULT_SUCCESS, REFUSED_NONE);
    StartTransfer(Mode::IMAGE_TRANSFER, image);
}

bool Vb27Board::CheckRegion(const Frame& frame, uint32_t address, uint32_t length, uint32_t regionSize, uint32_t step)
{
    if (regionSize < UNBOUNDED_REGION) {
        if (regionSize % step != 0) {
            Refuse(frame, REFUSED_PARAMETER,
                   "region size " + Hex32(regionSize) + " is not a multiple of " + std::to_string(step));
            return false;
        }
        if (length > regionSize) {
            Refuse(frame, REFUSED_PARAMETER,
                   "image length " + Hex32(length) + " exceeds its region " + Hex32(regionSize));
            return false;
        }
    }
    if (!Flash::Fits(address, length)) {
        Refuse(frame, REFUSED_PARAMETER, "image at " + Hex32(address) + " reaches past the largest flash");
        return false;
    }
    return true;
}

void Vb27Board::HandleUpload(const Frame& frame)
{
    const uint32_t length = frame.ParameterU32(0);
    const uint32_t address = frame.ParameterU32(4);
    if (!Flash::Fits(address, length)) {
        Refuse(frame, REFUSED_PARAMETER, "read-back at " + Hex32(address) + " reaches past the largest flash");
        return;
    }
    Answer(frame.code, RESULT_SUCCESS, REFUSED_NONE);
    m_env.report.AddEvent("upload " + Hex32(address) + " " + std::to_string(length) + " in blocks of " +
                          std::to_string(m_uploadBlock));
    m_sender = std::make_unique<YmodemSender>([this](const std::vector<uint8_t>& bytes) { SendRaw(bytes); },
                                              READ_BACK_NAME, m_env.flash.Read(address, length), m_uploadBlock,
                                              &m_env.faults);
    m_sender->Start(m_now);
    m_mode = Mode::UPLOAD;
}

void Vb27Board::StartTransfer(Mode mode, PendingImage image)
{
    m_image = std::move(image);
    m_mode = mode;
    m_receiver = std::make_unique<YmodemReceiver>([this](const std::vector<uint8_t>& bytes) { SendRaw(bytes); },
                                                  Flash::MAX_SIZE, &m_env.faults);
    m_receiver->Start(m_now);
}

void Vb27Board::FinishTransfer()
{
    const bool loader = m_mode == Mode::LOADER_TRANSFER;
    const Mode failedMode = loader ? Mode::ROM : Mode::LOADER;
    std::vector<uint8_t> leftover = m_receiver->TakeLeftover();
    if (m_repeatedHandshakes > 0) {
        m_env.report.AddEvent(std::to_string(m_repeatedHandshakes) + " repeated handshakes answered");
        m_repeatedHandshakes = 0;
    }
    if (m_receiver->RepeatedBlocks() > 0) {
        m_env.report.AddEvent(std::to_string(m_receiver->RepeatedBlocks()) + " repeated blocks of the " +
                              m_image.kind + " image acknowledged and discarded");
    }
    if (m_receiver->GetState() == YmodemReceiver::State::FAILED) {
        Error("transfer of the " + m_image.kind + " image failed");
        m_mode = failedMode;
    } else {
        const std::vector<uint8_t>& data = m_receiver->Data();
        std::string problem;
        if (!m_receiver->HasFile()) {
            problem = "the transfer carried no file";
        } else if (m_receiver->Short()) {
            problem = "the transfer ended early";
        } else if (m_image.hasLength && data.size() != m_image.length) {
            problem = "block 0 announced " + std::to_string(data.size()) + " bytes, the command " +
                      std::to_string(m_image.length);
        }
        if (!problem.empty()) {
            Error(m_image.kind + " image refused: " + problem);
            Answer(Tally::CLOSING_ACK, RESULT_FAILURE, REFUSED_IMAGE);
            m_mode = failedMode;
        } else if (m_env.faults.NextAnswerIsNegative(Tally::CLOSING_ACK)) {
            FailToProgram();
            Answer(Tally::CLOSING_ACK, RESULT_FAILURE, REFUSED_INJECTED);
            m_mode = failedMode;
        } else {
            Answer(Tally::CLOSING_ACK, RESULT_SUCCESS, REFUSED_NONE);
            StoreImage(data);
            if (m_receiver->BlockSize() >= YmodemSender::DEFAULT_BLOCK_SIZE) {
                m_uploadBlock = m_receiver->BlockSize();
            }
            m_mode = Mode::LOADER;
        }
    }
    m_receiver.reset();
    m_in.insert(m_in.begin(), leftover.begin(), leftover.end());
}

void Vb27Board::StoreImage(const std::vector<uint8_t>& data)
{
    ImageRecord record;
    record.kind = m_image.kind;
    record.name = m_receiver->FileName();
    record.address = m_image.address;
    record.length = data.size();
    record.regionSize = m_image.regionSize;
    record.sha256 = Sha256::Hex(Sha256::Of(data.data(), data.size()));
    m_env.report.AddImage(record);
    if (!m_image.hasAddress) {
        return;  // loader, version and OTP/eFuse data do not go to flash
    }
    if (m_image.regionSize < UNBOUNDED_REGION) {
        m_env.flash.Erase(m_image.address, m_image.regionSize);
    }
    const std::vector<BadCell> spoiled = m_env.flash.Write(m_image.address, data.data(), data.size());
    m_env.faults.CellsFired(spoiled, m_image.kind + " image " + record.name + " at " + Hex32(m_image.address));
}

void Vb27Board::FailToProgram()
{
    const std::string name = m_receiver->FileName();
    m_env.report.AddEvent(m_image.kind + " image " + name +
                          " not programmed: its closing ACK is negative as the fault plan asks");
    if (m_image.hasAddress) {
        // The board had erased the region before programming failed.
        const uint64_t length = m_image.regionSize < UNBOUNDED_REGION ? m_image.regionSize : m_image.length;
        m_env.flash.Erase(m_image.address, length);
    }
}

void Vb27Board::FinishUpload()
{
    for (const std::string& e : m_sender->TakeErrors()) {
        Error("read-back: " + e);
    }
    if (m_sender->Resent() > 0) {
        m_env.report.AddEvent("read-back: " + std::to_string(m_sender->Resent()) + " blocks sent again");
    }
    std::vector<uint8_t> leftover = m_sender->TakeLeftover();
    m_sender.reset();
    m_mode = Mode::LOADER;
    m_swallowC = true;
    m_in.insert(m_in.begin(), leftover.begin(), leftover.end());
}

void Vb27Board::Answer(int key, uint8_t result, uint8_t detail)
{
    const AnswerFate fate = m_env.faults.TakeAnswer(key);
    const std::string answer = "answer " + std::to_string(m_env.report.GetTally().answers);
    if (fate.negative && result == RESULT_SUCCESS) {
        result = RESULT_FAILURE;
        detail = REFUSED_INJECTED;
    }
    std::vector<uint8_t> frame = BuildAckFrame(result, detail);
    if (fate.dropped) {
        m_env.report.AddEvent(answer + " dropped as the fault plan asks");
        return;
    }
    if (fate.garbled) {
        switch (fate.garble) {
        case Garble::CHECK:
            frame[ACK_OFFSET_CRC] ^= 0xFF;
            m_env.report.AddEvent(answer + " sent with a broken CRC as the fault plan asks");
            break;
        case Garble::BIT:
            SpoilOnLine(frame, fate.garble);
            m_env.report.AddEvent(answer + " sent with a flipped bit as the fault plan asks");
            break;
        case Garble::CUT:
            SpoilOnLine(frame, fate.garble);
            m_env.report.AddEvent(answer + " cut short as the fault plan asks");
            break;
        }
    }
    m_env.line.Write(frame);
}

void Vb27Board::Refuse(const Frame& frame, Refusal refusal, const std::string& problem)
{
    Error("command " + CodeName(frame.code) + " refused: " + problem);
    Answer(frame.code, RESULT_FAILURE, refusal);
}

void Vb27Board::SendRaw(const std::vector<uint8_t>& bytes)
{
    m_env.line.WriteData(bytes);
}

void Vb27Board::Error(const std::string& text)
{
    m_env.report.AddProtocolError(text);
}

void Vb27Board::FlushSkipped()
{
    if (m_skippedCount == 0) {
        return;
    }
    std::string text = std::to_string(m_skippedCount) + " bytes that start no frame ignored:";
    for (const uint8_t b : m_skipped) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02x", b);
        text += hex;
    }
    if (m_skippedCount > m_skipped.size()) {
        text += " ...";
    }
    Error(text);
    m_skipped.clear();
    m_skippedCount = 0;
}

void Vb27Board::TakeErrors(std::vector<std::string> errors, const std::string& context)
{
    for (const std::string& e : errors) {
        Error("YMODEM (" + context + "): " + e);
    }
}

}  // namespace Sim
