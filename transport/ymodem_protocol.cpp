#include "transport/ymodem_protocol.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "common/checksum.h"
#include "common/console.h"
#include "common/file_helpers.h"
#include "platform/hot_path.h"
#include "platform/monotonic_clock.h"
#include "platform/serial_port.h"
#include "common/secure_functions.h"

namespace YmodemProtocolSp {

namespace {

// Offsets inside every frame.
constexpr uint32_t HEAD_OFFSET = 0;
constexpr uint32_t BLOCK_OFFSET = 1;
constexpr uint32_t BLOCK_COMPLEMENT_OFFSET = 2;
constexpr uint32_t DATA_OFFSET = 3;

constexpr uint32_t MAX_RECV_FRAME_SIZE = YMODEM_FRAME_HEAD_LEN + MAX_RECV_FRAME_DATA_SIZE + YMODEM_CRC_LEN;
constexpr uint32_t SIZE_TEXT_LENGTH = 32;

uint32_t Elapsed(uint32_t start)
{
    return Common::GetTime() - start;
}

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

}  // namespace

uint8_t GetYmodemDataFrameHead(uint32_t dataSize)
{
    switch (dataSize) {
        case 2048:
            return YMODEM_HEAD_2K;
        case 4096:
            return YMODEM_HEAD_4K;
        case 8192:
            return YMODEM_HEAD_8K;
        default:
            return YMODEM_STX;
    }
}

uint32_t GetYmodemDataFrameSize(uint32_t dataSize)
{
    return dataSize + YMODEM_FRAME_HEAD_LEN + YMODEM_CRC_LEN;
}

uint32_t GetYmodemDataSizeOfHead(uint8_t head)
{
    switch (head) {
        case YMODEM_SOH:
            return YMODEM_SOH_DATA_SIZE;
        case YMODEM_STX:
            return SINGLE_FRAME_DATA_SIZE_1K;
        case YMODEM_HEAD_2K:
            return 2048;
        case YMODEM_HEAD_4K:
            return 4096;
        case YMODEM_HEAD_8K:
            return 8192;
        default:
            return 0;
    }
}

YmodemProtocol::YmodemProtocol(ChipLink* chip, int packetSize)
    : m_singleFrameDataSize(packetSize > 0 ? static_cast<uint32_t>(packetSize) : SINGLE_FRAME_DATA_SIZE_1K),
      m_chip(chip)
{
}

void YmodemProtocol::SetSingleFrameDataSize(int size)
{
    if (size > 0) {
        m_singleFrameDataSize = static_cast<uint32_t>(size);
    }
}

// ---------------------------------------------------------------- line access

HOT_PATH bool YmodemProtocol::SendAll(const uint8_t* data, uint32_t length)
{
    return m_chip->Send(data, length) >= length;
}

bool YmodemProtocol::SendByte(uint8_t byte)
{
    return SendAll(&byte, 1);
}

// The wait ends as soon as a byte arrives, so the poll interval only bounds
// how often an idle wait wakes to look at the window and at cancel. Waking
// every 10 ms while a block is on a slow line costs more CPU than the block.
// It is also long enough for a local line to sleep in its read of the answer.
HOT_PATH void YmodemProtocol::WaitPoll(uint32_t timeoutMs)
{
    constexpr uint32_t IDLE_WAKE_MS = Platform::SerialPort::ONE_CALL_WAIT_MIN_MS;
    m_chip->WaitForData(timeoutMs > IDLE_WAKE_MS ? timeoutMs : IDLE_WAKE_MS);
}

// A lost line ends a wait at once, but only after the bytes that did arrive
// have been taken.
HOT_PATH bool YmodemProtocol::LineGone()
{
    return m_chip->LineLost() && !m_chip->WaitForData(0);
}

HOT_PATH bool YmodemProtocol::CollectBytes(uint8_t* buffer, uint32_t count, uint32_t start, uint32_t windowMs)
{
    uint32_t got = 0;
    for (;;) {
        unsigned long n = m_chip->Receive(buffer + got, count - got);
        got += static_cast<uint32_t>(n > count - got ? count - got : n);
        if (got == count) {
            return true;
        }
        uint32_t elapsed = Elapsed(start);
        if (elapsed >= windowMs || LineGone()) {
            return false;
        }
        m_chip->WaitForData(windowMs - elapsed);
    }
}

// The window covers the wait for the head byte; the rest of the frame gets a
// window of its own from the head's arrival, so a frame that starts late is
// not torn apart (its tail would otherwise be misread as the next frame).
HOT_PATH uint32_t YmodemProtocol::CollectFrame(uint8_t* buffer, uint32_t bufferSize, uint32_t frameSize)
{
    if (bufferSize == 0 || !CollectBytes(buffer, 1, Common::GetTime(), SEND_YMODEM_C_DELAY_TIME)) {
        return 0;
    }
    if (frameSize == 0) {
        uint32_t dataSize = GetYmodemDataSizeOfHead(buffer[HEAD_OFFSET]);
        // An unknown head is read as the loader's 1 KiB frame, which then
        // fails its check and is asked for again.
        frameSize = GetYmodemDataFrameSize(dataSize != 0 ? dataSize : SINGLE_FRAME_DATA_SIZE_1K);
    }
    if (frameSize > bufferSize) {
        return 0;
    }
    if (!CollectBytes(buffer + 1, frameSize - 1, Common::GetTime(), SEND_YMODEM_C_DELAY_TIME)) {
        return 0;
    }
    return frameSize;
}

HOT_PATH void YmodemProtocol::PrintText(const char* text)
{
    Common::Print(m_chip->Events(), text);
}

void YmodemProtocol::Fail(Common::OutcomeKind kind, const char* text)
{
    m_chip->Fail(kind, text);
}

HOT_PATH void YmodemProtocol::PrintFrameProgress(uint32_t frames, uint32_t step, uint64_t done, uint64_t total)
{
    PrintText("#");
    int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
    if (frames % step == 0 || percent == 100) {
        m_chip->Events().Progress(percent);
        char line[32];
        std::snprintf(line, sizeof(line), " ---- %d%%\n", percent);
        PrintText(line);
    }
}

// ---------------------------------------------------------------- sending

bool YmodemProtocol::DownloadFile(const uint8_t* data, uint32_t size, const std::string& fileName)
{
    if (!YmodemHandshake()) {
        Fail(Common::OutcomeKind::TRANSFER, "Ymodem handshake failed.\n");
        return false;
    }
    Common::PrintInfo(m_chip->Events(), Common::NORMAL_INFO, "Start download: %s.\n", fileName.c_str());
    if (!SendYmodemStartFrame(fileName, size)) {
        Fail(Common::OutcomeKind::TRANSFER, "Send ymodem start frame failed.\n");
        return false;
    }
    if (!AwaitDataRequest()) {
        return false;
    }
    if (!SendYmodemDataFrame(data, size, GetYmodemDataFrameSize(m_singleFrameDataSize))) {
        Fail(Common::OutcomeKind::TRANSFER, "Send ymodem data frame failed.\n");
        return false;
    }
    const uint8_t eot = YMODEM_EOT;
    if (!SendFrameWithYmodemAck(&eot, 1)) {
        Fail(Common::OutcomeKind::TRANSFER, "Send ymodem file download finish EOT frame failed.\n");
        return false;
    }
    if (!SendYmodemFinishFrame()) {
        Fail(Common::OutcomeKind::TRANSFER, "Send ymodem finish frame failed.\n");
        return false;
    }
    return true;
}

bool YmodemProtocol::YmodemHandshake()
{
    // The board's boot text, shown once the exchange starts or fails. Printed
    // as plain text so that a long boot log is not dropped by the formatter.
    std::string log;
    auto printLog = [this, &log]() {
        log += "\n";
        m_chip->Events().BoardText(log);
    };
    uint8_t buffer[YMODEM_HANDSHAKE_READ_SIZE];
    uint32_t start = Common::GetTime();
    for (;;) {
        if (Elapsed(start) > YMODEM_C_RECV_TIMEOUT || LineGone()) {
            printLog();
            return false;
        }
        if (m_chip->CheckIsCancel()) {
            return false;
        }
        unsigned long n = m_chip->Receive(buffer, sizeof(buffer));
        uint32_t got = static_cast<uint32_t>(n > sizeof(buffer) ? sizeof(buffer) : n);
        log.append(reinterpret_cast<const char*>(buffer), strnlen(reinterpret_cast<const char*>(buffer), got));
        for (uint32_t i = 0; i < got; ++i) {
            if (buffer[i] == YMODEM_C || buffer[i] == YMODEM_NAK) {
                printLog();
                return true;
            }
        }
        if (got == 0) {
            WaitPoll(YMODEM_DELAY_TIME);
        }
    }
}

// Block 0's ACK is followed by the receiver's 'C' that asks for block 1. Taken
// here, it is not mistaken later for a request to send block 1 again: a block
// sent twice is acknowledged twice, and every later ACK would be read one
// block early. A receiver that does not ask gets block 1 after the window.
bool YmodemProtocol::AwaitDataRequest()
{
    const uint32_t start = Common::GetTime();
    while (Elapsed(start) < YMODEM_C_RECV_TIMEOUT) {
        // The line and the cancel check tell the user themselves.
        if (LineGone() || m_chip->CheckIsCancel()) {
            return false;
        }
        WaitPoll(YMODEM_DELAY_TIME);
        uint8_t reply = 0;
        while (m_chip->Receive(&reply, 1) == 1) {
            if (reply == YMODEM_C || reply == YMODEM_NAK) {
                return true;
            }
        }
    }
    return true;
}

bool YmodemProtocol::SendYmodemStartFrame(const std::string& fileName, uint32_t size)
{
    std::vector<uint8_t> frame(YMODEM_SOH_FRAME_SIZE, 0);
    if (!InitYmodemStartFrame(frame.data(), static_cast<uint32_t>(frame.size()), Common::GetFileName(fileName),
                              size)) {
        Fail(Common::OutcomeKind::TRANSFER, "Init ymodem start frame failed.\n");
        return false;
    }
    return SendFrameWithYmodemAck(frame.data(), static_cast<uint32_t>(frame.size()));
}

bool YmodemProtocol::InitYmodemStartFrame(uint8_t* frame, uint32_t frameSize, const std::string& name,
                                          uint32_t fileSize)
{
    if (name.size() > MAX_FILE_NAME_LENGTH) {
        Fail(Common::OutcomeKind::PACKAGE_REFUSED, "The file name is too long.\n");
        return false;
    }
    uint32_t checkLength = YMODEM_CRC_LEN;
    if (frame == nullptr || frameSize < DATA_OFFSET + YMODEM_SOH_DATA_SIZE + checkLength ||
        memcpy_s(frame + DATA_OFFSET, YMODEM_SOH_DATA_SIZE, name.data(), name.size()) != 0) {
        Fail(Common::OutcomeKind::TRANSFER, "InitYmodemStartFrame: memcpy_s file name failed.\n");
        return false;
    }
    frame[HEAD_OFFSET] = YMODEM_SOH;
    frame[BLOCK_OFFSET] = 0x00;
    frame[BLOCK_COMPLEMENT_OFFSET] = 0xFF;
    uint32_t position = DATA_OFFSET + static_cast<uint32_t>(name.size());
    frame[position++] = 0;

    char sizeText[SIZE_TEXT_LENGTH];
    int textLength = std::snprintf(sizeText, sizeof(sizeText), "0x%lx", static_cast<unsigned long>(fileSize));
    uint32_t room = DATA_OFFSET + YMODEM_SOH_DATA_SIZE - position;
    if (textLength <= 0 || memcpy_s(frame + position, room, sizeText, static_cast<size_t>(textLength)) != 0) {
        Fail(Common::OutcomeKind::TRANSFER, "InitYmodemStartFrame: memcpy_s file size failed.\n");
        return false;
    }

    uint8_t* check = frame + DATA_OFFSET + YMODEM_SOH_DATA_SIZE;
    const uint16_t crc = Common::SopCrc16(frame + DATA_OFFSET, YMODEM_SOH_DATA_SIZE);
    check[0] = static_cast<uint8_t>(crc >> 8);
    check[1] = static_cast<uint8_t>(crc & 0xFF);
    return true;
}

HOT_PATH bool YmodemProtocol::InitYmodemDataFrame(uint8_t* frame, uint32_t frameSize, uint8_t block,
                                                  const uint8_t* data, uint32_t chunk)
{
    uint32_t dataSize = m_singleFrameDataSize;
    uint32_t checkLength = YMODEM_CRC_LEN;
    if (frame == nullptr || frameSize < DATA_OFFSET || chunk > frameSize - DATA_OFFSET || chunk > dataSize ||
        static_cast<uint64_t>(frameSize) < uint64_t{DATA_OFFSET} + dataSize + checkLength) {
        Fail(Common::OutcomeKind::TRANSFER, "InitYmodemDataFrame: memcpy_s sourceSize is greater than destinationSize\n");
        return false;
    }
    frame[HEAD_OFFSET] = GetYmodemDataFrameHead(dataSize);
    frame[BLOCK_OFFSET] = block;
    frame[BLOCK_COMPLEMENT_OFFSET] = static_cast<uint8_t>(0xFF - block);
    if (chunk > 0 && data == nullptr) {
        Fail(Common::OutcomeKind::TRANSFER, "InitYmodemDataFrame: memcpy_s data frame failed.\n");
        return false;
    }
    uint16_t crc = 0;
    if (chunk == dataSize) {
        crc = Common::SopCrc16Copy(frame + DATA_OFFSET, data, chunk);
    } else {
        // The padding after a short last chunk is the zero fill of the caller.
        if (chunk > 0) {
            std::memcpy(frame + DATA_OFFSET, data, chunk);
        }
        crc = Common::SopCrc16(frame + DATA_OFFSET, dataSize);
    }
    uint8_t* check = frame + DATA_OFFSET + dataSize;
    check[0] = static_cast<uint8_t>(crc >> 8);
    check[1] = static_cast<uint8_t>(crc & 0xFF);
    return true;
}

HOT_PATH bool YmodemProtocol::SendYmodemDataFrame(const uint8_t* data, uint32_t size, uint32_t frameSize)
{
    const uint32_t dataSize = m_singleFrameDataSize;
    const uint32_t frameCount = static_cast<uint32_t>((uint64_t{size} + dataSize - 1) / dataSize);
    const uint32_t step = size / dataSize / 10 + 1;
    uint32_t chunk = size < dataSize ? size : dataSize;
    uint32_t offset = 0;
    std::vector<uint8_t> frame(frameSize);
    for (uint32_t block = 1; block <= frameCount; ++block) {
        if (block == frameCount) {
            chunk = size - offset;
            // Only the last frame is padded: the full ones overwrite every data byte.
            std::fill(frame.begin(), frame.end(), 0);
        }
        if (!InitYmodemDataFrame(frame.data(), frameSize, static_cast<uint8_t>(block & 0xFF),
                                 data == nullptr ? nullptr : data + offset, chunk) ||
            !SendFrameWithYmodemAck(frame.data(), frameSize)) {
            return false;
        }
        offset += chunk;
        PrintFrameProgress(block, step, offset, size);
    }
    return true;
}

bool YmodemProtocol::SendYmodemFinishFrame()
{
    // Block 0 with no name ends the batch; its zero CRC is the CRC of zero data.
    uint8_t frame[YMODEM_SOH_FRAME_SIZE] = {YMODEM_SOH, 0x00, 0xFF};
    return SendFrameWithYmodemAck(frame, YMODEM_SOH_FRAME_SIZE);
}

HOT_PATH bool YmodemProtocol::SendFrameWithYmodemAck(const uint8_t* frame, uint32_t length)
{
    if (!SendAll(frame, length)) {
        Fail(Common::OutcomeKind::TRANSFER, "Send data frame failed.\n");
        return false;
    }
    uint32_t start = Common::GetTime();
    for (;;) {
        if (Elapsed(start) >= YMODEM_C_RECV_TIMEOUT || LineGone()) {
            Fail(Common::OutcomeKind::TRANSFER, "ACK receiving timed out.\n");
            return false;
        }
        if (m_chip->CheckIsCancel()) {
            Fail(Common::OutcomeKind::CANCELLED, "\nUser Cancelled!\n");
            return false;
        }
        // Waiting first takes the answer with the wake-up that brings it; the
        // wait returns at once for bytes already there.
        WaitPoll(YMODEM_DELAY_TIME);
        uint8_t reply = 0;
        while (m_chip->Receive(&reply, 1) == 1) {
            if (reply == YMODEM_ACK) {
                return true;
            }
            // 'C' is the receiver's request to repeat; anything else is noise.
            if (reply == YMODEM_C && !SendAll(frame, length)) {
                Fail(Common::OutcomeKind::TRANSFER, "Send data frame failed.\n");
                return false;
            }
        }
    }
}

// ---------------------------------------------------------------- receiving

bool YmodemProtocol::UploadFile(const std::string& path, uint32_t size)
{
    return Upload([&]() { return RecvDataAndWriteFile(path, size); });
}

bool YmodemProtocol::UploadData(std::vector<uint8_t>& data, uint32_t size)
{
    data.clear();
    data.reserve(size);
    return Upload([&]() {
        return RecvData(size, [&data](const uint8_t* bytes, uint32_t length) {
            data.insert(data.end(), bytes, bytes + length);
            return true;
        });
    });
}

bool YmodemProtocol::Upload(const std::function<bool()>& receiveData)
{
    if (!RecvYModelSOHFrame()) {
        Fail(Common::OutcomeKind::TRANSFER, "Recv uplaod start frame failed.\n");
        return false;
    }
    if (!receiveData()) {
        Fail(Common::OutcomeKind::TRANSFER, "Recv uplaod data frame failed.\n");
        return false;
    }
    if (!RecvYModelEotFrame()) {
        Fail(Common::OutcomeKind::TRANSFER, "Recv upload EOT frame failed.\n");
        return false;
    }
    if (!RecvYModelSOHFrame()) {
        Fail(Common::OutcomeKind::TRANSFER, "Recv upload finish frame failed.\n");
        return false;
    }
    return true;
}

HOT_PATH bool YmodemProtocol::CheckRecvData(const uint8_t* frame, uint32_t frameSize, uint8_t head, uint8_t block) const
{
    if (frame == nullptr || frameSize < DATA_OFFSET + YMODEM_CRC_LEN) {
        return false;
    }
    uint32_t dataSize = frameSize - DATA_OFFSET - YMODEM_CRC_LEN;
    uint16_t crc = Common::SopCrc16(frame + DATA_OFFSET, dataSize);
    uint16_t stored = static_cast<uint16_t>((frame[frameSize - 2] << 8) | frame[frameSize - 1]);
    return frame[HEAD_OFFSET] == head && frame[BLOCK_OFFSET] == block && crc == stored;
}

bool YmodemProtocol::RecvYModelSOHFrame()
{
    uint8_t frame[YMODEM_SOH_FRAME_SIZE];
    uint32_t start = Common::GetTime();
    for (;;) {
        if (Elapsed(start) >= YMODEM_C_RECV_TIMEOUT || LineGone()) {
            Fail(Common::OutcomeKind::TRANSFER, "YModem SOH frame receiving timed out.\n");
            return false;
        }
        if (m_chip->CheckIsCancel()) {
            return false;
        }
        if (!SendByte(YMODEM_C)) {
            Fail(Common::OutcomeKind::TRANSFER, "Send Ymodem C failed.\n");
            return false;
        }
        // Block 0 is always a 128-byte CRC frame.
        frame[HEAD_OFFSET] = 0;
        if (CollectFrame(frame, sizeof(frame), YMODEM_SOH_FRAME_SIZE) == 0 ||
            !CheckRecvData(frame, YMODEM_SOH_FRAME_SIZE, YMODEM_SOH, 0)) {
            // The EOT again, where the closing block was asked for: the board
            // missed our ACK of it.
            if (frame[HEAD_OFFSET] == YMODEM_EOT && !SendByte(YMODEM_ACK)) {
                Fail(Common::OutcomeKind::TRANSFER, "Send ACK frame failed.\n");
                return false;
            }
            continue;
        }
        if (!SendByte(YMODEM_ACK) || !SendByte(YMODEM_C)) {
            Fail(Common::OutcomeKind::TRANSFER, "Send Ymodem ACK failed.\n");
            return false;
        }
        return true;
    }
}

HOT_PATH bool YmodemProtocol::RecvDataFrame(uint8_t* buffer, uint32_t bufferSize, uint32_t& expectedBlock,
                                   uint32_t& dataSize)
{
    bool askAgain = false;
    uint32_t start = Common::GetTime();
    for (;;) {
        if (Elapsed(start) >= YMODEM_C_RECV_TIMEOUT || LineGone()) {
            Fail(Common::OutcomeKind::TRANSFER, "YModem data frame receiving timed out.\n");
            return false;
        }
        if (m_chip->CheckIsCancel()) {
            return false;
        }
        if (askAgain && !SendByte(YMODEM_C)) {
            Fail(Common::OutcomeKind::TRANSFER, "Send Ymodem C failed.\n");
            return false;
        }
        uint32_t frameSize = CollectFrame(buffer, bufferSize, 0);
        if (frameSize == 0) {
            // No whole frame in the window: the board waits for us, most
            // likely because our last ACK, or a byte of its frame, was lost.
            askAgain = true;
            continue;
        }
        expectedBlock %= 256;
        uint8_t head = GetYmodemDataSizeOfHead(buffer[HEAD_OFFSET]) != 0 ? buffer[HEAD_OFFSET] : YMODEM_STX;
        // A bad frame, or one of another block, is answered with 'C', not NAK.
        if (CheckRecvData(buffer, frameSize, head, static_cast<uint8_t>(expectedBlock))) {
            dataSize = frameSize - DATA_OFFSET - YMODEM_CRC_LEN;
            m_lastBlock = static_cast<uint8_t>(expectedBlock);
            ++expectedBlock;
            return true;
        }
        // Asking for a repeat once more would only bring it once more.
        if (IsRepeatOf(buffer, frameSize, static_cast<uint8_t>(expectedBlock + 255))) {
            if (!SendByte(YMODEM_ACK)) {
                Fail(Common::OutcomeKind::TRANSFER, "Send Ymodem ACK failed.\n");
                return false;
            }
            askAgain = false;
            continue;
        }
        askAgain = true;
    }
}

bool YmodemProtocol::RecvDataAndWriteFile(const std::string& path, uint32_t size)
{
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        Fail(Common::OutcomeKind::FILE, Common::FormatInfo("Create upload file failed: %s\n", path.c_str()).c_str());
        return false;
    }
    const auto write = [&](const uint8_t* bytes, uint32_t length) {
        if (std::fwrite(bytes, 1, length, file.get()) == length) {
            return true;
        }
        Fail(Common::OutcomeKind::FILE, Common::FormatInfo("Write upload file failed: %s\n", path.c_str()).c_str());
        return false;
    };
    if (!RecvData(size, write)) {
        return false;
    }
    if (std::fclose(file.release()) != 0) {
        Fail(Common::OutcomeKind::FILE, Common::FormatInfo("Write upload file failed: %s\n", path.c_str()).c_str());
        return false;
    }
    return true;
}

bool YmodemProtocol::RecvData(uint32_t size, const DataSink& keep)
{
    // A tenth of the frames between percentage lines, counted in the frames
    // the sender chose: known once its first frame is in.
    uint32_t step = 0;
    std::vector<uint8_t> buffer(MAX_RECV_FRAME_SIZE);
    uint32_t expectedBlock = 1;
    uint32_t written = 0;
    uint32_t frames = 0;
    while (written < size) {
        uint32_t dataSize = 0;
        if (!RecvDataFrame(buffer.data(), static_cast<uint32_t>(buffer.size()), expectedBlock, dataSize)) {
            Fail(Common::OutcomeKind::TRANSFER, "Receive data frames failed.\n");
            return false;
        }
        if (step == 0) {
            step = size / dataSize / 10 + 1;
        }
        // The sender pads the last frame; only the requested size is kept.
        const uint32_t chunk = size - written < dataSize ? size - written : dataSize;
        if (!keep(buffer.data() + DATA_OFFSET, chunk)) {
            return false;
        }
        if (!SendByte(YMODEM_ACK)) {
            Fail(Common::OutcomeKind::TRANSFER, "Send Ymodem ACK failed.\n");
            return false;
        }
        written += chunk;
        PrintFrameProgress(++frames, step, written, size);
    }
    return true;
}

HOT_PATH bool YmodemProtocol::IsRepeatOf(const uint8_t* frame, uint32_t frameSize, uint8_t block) const
{
    const uint8_t head = frame[HEAD_OFFSET];
    return GetYmodemDataSizeOfHead(head) != 0 && CheckRecvData(frame, frameSize, head, block);
}

// A board that missed our ACK of the last block waits for it, or sends that
// block again; either is answered, so that its EOT follows. Other bytes are noise.
bool YmodemProtocol::RecvYModelEotFrame()
{
    std::vector<uint8_t> frame(MAX_RECV_FRAME_SIZE);
    uint32_t start = Common::GetTime();
    for (;;) {
        if (Elapsed(start) >= YMODEM_C_RECV_TIMEOUT || LineGone()) {
            Fail(Common::OutcomeKind::TRANSFER, "YModel EOT receiving timed out.\n");
            return false;
        }
        if (m_chip->CheckIsCancel()) {
            return false;
        }
        if (!CollectBytes(frame.data(), 1, Common::GetTime(), SEND_YMODEM_C_DELAY_TIME)) {
            if (!SendByte(YMODEM_C)) {
                Fail(Common::OutcomeKind::TRANSFER, "Send Ymodem C failed.\n");
                return false;
            }
            continue;
        }
        const uint8_t head = frame[HEAD_OFFSET];
        if (head == YMODEM_EOT) {
            if (!SendByte(YMODEM_ACK)) {
                Fail(Common::OutcomeKind::TRANSFER, "Send ACK frame failed.\n");
                return false;
            }
            return true;
        }
        const uint32_t dataSize = GetYmodemDataSizeOfHead(head);
        const uint32_t frameSize = GetYmodemDataFrameSize(dataSize);
        if (dataSize != 0 &&
            CollectBytes(frame.data() + 1, frameSize - 1, Common::GetTime(), SEND_YMODEM_C_DELAY_TIME) &&
            IsRepeatOf(frame.data(), frameSize, m_lastBlock) && !SendByte(YMODEM_ACK)) {
            Fail(Common::OutcomeKind::TRANSFER, "Send Ymodem ACK failed.\n");
            return false;
        }
    }
}

}  // namespace YmodemProtocolSp
