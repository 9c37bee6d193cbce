// The boot-ROM side of the chip object: acknowledged serial file transfer,
// framed sends with reply frames, the byte-paced handshake and the frames that
// expect no answer. Every wait is a window on the transport's arrival signal.
#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>

#include "common/console.h"
#include "platform/monotonic_clock.h"
#include "common/secure_functions.h"
#include "device/boot_frames.h"
#include "device/burn_chip_base.h"

namespace {

constexpr unsigned long HEAD_REPLY_WINDOW = 500;
constexpr unsigned long DATA_TIMEOUT = 300;
constexpr unsigned long FILE_FRAME_TOTAL_WINDOW = 30000;
constexpr unsigned long SIX_SEC = 6000;
constexpr unsigned long FRAME_READ_TIMEOUT = 500;
constexpr uint32_t REPLY_BUFFER_SIZE = 1024;
constexpr uint32_t SHAKE_BUFFER_SIZE = 1024;
constexpr uint32_t USB_START_FRAME_RESPOND_LEN = 2;
constexpr uint32_t START_ANSWER_BUFFER_SIZE = 512;
constexpr unsigned long SPI_PAGE_4K_ONE_MBYTES_TIME = 30000;
constexpr unsigned long ONE_MBYTE = 1048576;

uint32_t Elapsed(uint32_t start)
{
    return Common::GetTime() - start;
}

} // namespace

// --- acknowledged serial file transfer ----------------------------------------

int BurnChipBase::SendFrameBySerial(unsigned char* frame, unsigned long length, unsigned long replyWindow,
                                    unsigned long totalWindow)
{
    if (!m_transport || frame == nullptr) {
        return 0;
    }
    ClearRecvBuff();
    m_transport->SetTimeout(replyWindow, replyWindow);
    const uint32_t start = Common::GetTime();
    bool nakSeen = false;
    while (Elapsed(start) < totalWindow) {
        if (CheckIsCancel() || LineLost()) {
            return 0;
        }
        if (m_transport->Send(frame, length) < length) {
            continue;
        }
        const uint32_t replyStart = Common::GetTime();
        do {
            unsigned char byte = 0;
            while (m_transport->Receive(&byte, 1) == 1) {
                if (byte == Common::ACK) {
                    return 1;
                }
                if (byte == Common::NAK) {
                    nakSeen = true;
                    continue;
                }
                // Board text; an ACK right behind it in the same burst still counts.
                std::string text(1, static_cast<char>(byte));
                bool acked = false;
                while (!acked && m_transport->Receive(&byte, 1) == 1) {
                    if (byte == Common::ACK) {
                        acked = true;
                    } else {
                        text.push_back(static_cast<char>(byte));
                    }
                }
                m_recvText += text;
                if (acked) {
                    return 1;
                }
            }
        } while (WaitInWindow(replyStart, replyWindow));
    }
    if (nakSeen) {
        Common::Print("Nack error(The serial port transmission may be unstable.).\n");
    } else {
        Common::Print("Timeout error.\n");
        Common::Print("1. Check whether the serial port connection is normal.\n");
        Common::Print("2. The U-Boot is faulty.\n");
    }
    return 0;
}

int BurnChipBase::SendHeadFrameBySerial(unsigned long length, unsigned long target)
{
    auto frame = BootFrame::BuildHeadFrame(static_cast<uint32_t>(length), static_cast<uint32_t>(target));
    return SendFrameBySerial(frame.data(), frame.size(), HEAD_REPLY_WINDOW, FILE_FRAME_TOTAL_WINDOW);
}

int BurnChipBase::SendDataFrameBySerial(unsigned char seq, const unsigned char* data, unsigned long n)
{
    if (n + BootFrame::CRC_AND_ID_LEN > BootFrame::MAX_DATA_FRAME_LENGTH) {
        return 0;
    }
    std::vector<uint8_t> frame = BootFrame::BuildDataFrame(seq, data, static_cast<uint32_t>(n));
    if (frame.empty()) {
        return 0;
    }
    const int result = SendFrameBySerial(frame.data(), static_cast<unsigned long>(frame.size()), DATA_TIMEOUT, FILE_FRAME_TOTAL_WINDOW);
    Common::Print("#");
    return result;
}

int BurnChipBase::SendTailFrameBySerial(unsigned long count)
{
    auto frame = BootFrame::BuildTailFrame(static_cast<uint8_t>(count));
    return SendFrameBySerial(frame.data(), frame.size(), DATA_TIMEOUT, FILE_FRAME_TOTAL_WINDOW);
}

int BurnChipBase::SendFileBySerial(const DataInfo& info)
{
    if (SendHeadFrameBySerial(info.length, info.target) == 0) {
        Common::Print("Failed to send the head frame.\n");
        return 0;
    }
    const uint32_t blockSize = BootFrame::FILE_BLOCK_SIZE;
    const uint32_t blocks = static_cast<uint32_t>((uint64_t{info.length} + blockSize - 1) / blockSize);
    for (uint32_t k = 0; k < blocks; ++k) {
        const uint32_t offset = k * blockSize;
        const uint32_t n = std::min(blockSize, info.length - offset);
        const unsigned char* payload = info.data == nullptr ? nullptr : info.data + offset;
        if (SendDataFrameBySerial(static_cast<unsigned char>((k + 1) % 256), payload, n) == 0) {
            Common::Print("Failed to send the data frame.\n");
            return 0;
        }
    }
    const int result = SendTailFrameBySerial(static_cast<unsigned long>(blocks) + 1);
    if (result == 0) {
        Common::Print("Failed to send the tail frame.\n");
    }
    return result;
}

int BurnChipBase::SendDataInfo(const DataInfo& info, bool /*unused*/)
{
    if (!m_isSerialOpened) {
        return 0;
    }
    const int result = SendFileBySerial(info);
    PrintCurRecv();
    return result;
}

// --- framed send with a 6-byte reply frame ------------------------------------

bool BurnChipBase::SendFrame(unsigned char* frame, unsigned long length, unsigned long replyWindow,
                             unsigned long totalWindow, bool reportFailure)
{
    if (!m_transport || frame == nullptr) {
        return false;
    }
    m_transport->SetTimeout(SIX_SEC, FRAME_READ_TIMEOUT);
    const uint32_t start = Common::GetTime();
    unsigned long sent = 0;
    while (Elapsed(start) < totalWindow) {
        if (CheckIsCancel() || Common::Cancelled() || LineLost()) {
            return false;
        }
        ClearRecvBuff();
        sent += m_transport->Send(frame + sent, length - sent);
        if (sent < length) {
            continue;
        }
        unsigned char reply[REPLY_BUFFER_SIZE] = {};
        uint32_t count = 0;
        const uint32_t replyStart = Common::GetTime();
        bool bufferFull = false;
        do {
            while (!bufferFull) {
                if (count + Common::ACK_LEN > REPLY_BUFFER_SIZE) {
                    bufferFull = true;
                    break;
                }
                const unsigned long got = m_transport->Receive(reply + count, Common::ACK_LEN);
                if (got == 0) {
                    break;
                }
                count += static_cast<uint32_t>(got);
                if (count >= Common::ACK_LEN && CheckReplyFrameValidity(reply, static_cast<int>(count), frame)) {
                    return true;
                }
            }
        } while (!bufferFull && WaitInWindow(replyStart, replyWindow));
        sent = 0;
    }
    if (reportFailure) {
        if (!m_errorInfo.empty()) {
            Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "%s", m_errorInfo.c_str());
        }
        const std::string transportError = m_transport->GetErrorStrInfo();
        if (!transportError.empty()) {
            Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "%s", transportError.c_str());
        }
        Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "send frame timeout error: %u.\n", Elapsed(start));
    }
    return false;
}

bool BurnChipBase::CheckReplyFrameValidity(const unsigned char* recv, int recvLength, const unsigned char* sent)
{
    if (recv == nullptr || sent == nullptr) {
        m_errorInfo = "check response frame failed.\n";
        return false;
    }
    bool reasonGiven = false;
    for (int offset = 0; offset + static_cast<int>(Common::ACK_LEN) <= recvLength; ++offset) {
        unsigned char window[Common::ACK_LEN] = {};
        if (memcpy_s(window, sizeof(window), recv + offset, Common::ACK_LEN) != 0) {
            m_errorInfo = "memcpy_s recvbuf failed.\n";
            return false;
        }
        switch (BootFrame::CheckReplyWindow(window, sent)) {
            case BootFrame::ReplyCheck::ACCEPTED:
                return true;
            case BootFrame::ReplyCheck::NOT_XACK:
                m_errorInfo = "flag is not equal to 0xCB.\n";
                reasonGiven = true;
                break;
            case BootFrame::ReplyCheck::BAD_COMPLEMENT:
                break;
            case BootFrame::ReplyCheck::BAD_INDEX:
                m_errorInfo = "index error.\n";
                reasonGiven = true;
                break;
            case BootFrame::ReplyCheck::REJECTED:
                m_errorInfo = "ack error.\n";
                reasonGiven = true;
                break;
            case BootFrame::ReplyCheck::BAD_CRC:
                m_errorInfo = "crc check error.\n";
                reasonGiven = true;
                break;
        }
    }
    // The reason of the last rejected window says more than the generic text.
    if (!reasonGiven) {
        m_errorInfo = "check response frame failed.\n";
    }
    return false;
}

// --- handshake ------------------------------------------------------------------

int BurnChipBase::SendShakeHandFrame(const unsigned char* frame, unsigned long length, unsigned long replyWindow,
                                     unsigned long totalWindow)
{
    if (!m_transport || frame == nullptr) {
        return 0;
    }
    ClearRecvBuff();
    m_transport->SetTimeout(replyWindow, replyWindow);
    unsigned char buffer[SHAKE_BUFFER_SIZE] = {};
    uint32_t count = 0;
    const uint32_t start = Common::GetTime();
    while (Elapsed(start) < totalWindow) {
        if (CheckIsCancel() || LineLost()) {
            return 0;
        }
        unsigned long sent = 0;
        for (unsigned long i = 0; i < length; ++i) {
            sent += m_transport->Send(frame + i, 1);
            Common::DelayUs(BootFrame::SHAKE_DELAY_US_TIME);
        }
        if (sent < length) {
            continue;
        }
        const uint32_t replyStart = Common::GetTime();
        do {
            count += static_cast<uint32_t>(m_transport->Receive(buffer + count, SHAKE_BUFFER_SIZE - count));
            if (count >= BootFrame::SHAKE_REPLY_LENGTH) {
                if (CheckRecvFrame(buffer, static_cast<int>(count))) {
                    return 1;
                }
                // A reply may be cut at the end of what arrived: keep its possible start.
                const uint32_t keep = BootFrame::SHAKE_REPLY_LENGTH - 1;
                if (memmove_s(buffer, sizeof(buffer), buffer + count - keep, keep) != 0) {
                    Common::Print("SendShakeHandFrame: memcpy_s sendData failed.\n");
                    return 0;
                }
                count = keep;
            }
        } while (WaitInWindow(replyStart, replyWindow));
    }
    if (!LineLost()) {
        Common::Print("Timeout error.\n");
    }
    return 0;
}

bool BurnChipBase::CheckRecvFrame(const unsigned char* recv, int recvLength) const
{
    if (recv == nullptr || recvLength < static_cast<int>(BootFrame::SHAKE_REPLY_LENGTH)) {
        return false;
    }
    for (int offset = 0; offset + static_cast<int>(BootFrame::SHAKE_REPLY_LENGTH) <= recvLength; ++offset) {
        if (BootFrame::IsShakeReply(recv + offset)) {
            return true;
        }
    }
    return false;
}

// --- frames without an answer ---------------------------------------------------

int BurnChipBase::SendFrameNoReply(unsigned char* frame, unsigned long length, unsigned long timeout)
{
    if (!m_transport || frame == nullptr) {
        return 0;
    }
    const uint32_t start = Common::GetTime();
    while (Elapsed(start) < timeout) {
        if (CheckIsCancel() || LineLost()) {
            return 0;
        }
        if (m_transport->Send(frame, length) == length) {
            return 1;
        }
    }
    return 0;
}

int BurnChipBase::SendCmdAndNoReply(const char* cmd, unsigned long length, int timeout)
{
    const unsigned long window = timeout < 0 ? 0 : static_cast<unsigned long>(timeout);
    auto head = BootFrame::BuildCmdHeadFrame(static_cast<uint32_t>(length));
    if (SendFrameNoReply(head.data(), head.size(), window) == 0) {
        Common::Print("Failed to send the command head!\n");
        return 0;
    }
    if (length + 3 >= BootFrame::CMD_FRAME_BUFFER_SIZE + 1) {
        Common::Print("Failed to send the command data: the length of command is too long!\n");
        return 0;
    }
    std::array<uint8_t, BootFrame::CMD_FRAME_BUFFER_SIZE> data{};
    const uint32_t frameLength =
        BootFrame::BuildCmdDataFrame(reinterpret_cast<const uint8_t*>(cmd), static_cast<uint32_t>(length), data);
    if (frameLength == 0) {
        Common::Print("memcpy_s failed!\n");
        return 0;
    }
    if (SendFrameNoReply(data.data(), frameLength, window) == 0) {
        Common::Print("Failed to send the command data!\n");
        return 0;
    }
    return 1;
}

int BurnChipBase::SendStartFrame()
{
    if (!m_transport) {
        return 0;
    }
    const uint32_t t1 = static_cast<uint32_t>(time(nullptr));
    const uint32_t t2 = static_cast<uint32_t>(time(nullptr));
    if (t1 == 0xFFFFFFFFu || t2 == 0xFFFFFFFFu) {
        Common::Print("time(nullptr) failed.\n");
        return 0;
    }
    auto frame = BootFrame::BuildStartFrame(t1, t2);
    if (m_transport->Send(frame.data(), frame.size()) != frame.size()) {
        Common::Print("send bytes failed.\n");
        return 0;
    }
    // The answer needs the time to come back over the line: wait for it
    // instead of reading only what happens to be there already.
    unsigned char answer[START_ANSWER_BUFFER_SIZE] = {};
    uint32_t count = 0;
    const uint32_t replyStart = Common::GetTime();
    do {
        count += static_cast<uint32_t>(m_transport->Receive(answer + count, sizeof(answer) - count));
    } while (count < USB_START_FRAME_RESPOND_LEN && WaitInWindow(replyStart, DATA_TIMEOUT));
    if (count == USB_START_FRAME_RESPOND_LEN && answer[0] == Common::ACK) {
        return 1;
    }
    Common::Print("recv bytes failed.\n");
    return 0;
}

void BurnChipBase::InitHead(unsigned char* buf, int /*unused*/, int value, int type)
{
    if (buf == nullptr) {
        return;
    }
    auto header = BootFrame::BuildHeader(static_cast<uint8_t>(type), m_headSequence, static_cast<uint32_t>(value));
    std::copy(header.begin(), header.end(), buf);
    ++m_headSequence;
}

int BurnChipBase::CalculationTimeout(unsigned long size) const
{
    const unsigned long megabytes = size / ONE_MBYTE + (size % ONE_MBYTE != 0 ? 1 : 0);
    if (megabytes > static_cast<unsigned long>(INT_MAX) / SPI_PAGE_4K_ONE_MBYTES_TIME) {
        return INT_MAX;
    }
    return static_cast<int>(std::max(megabytes * SPI_PAGE_4K_ONE_MBYTES_TIME, SPI_PAGE_4K_ONE_MBYTES_TIME));
}
