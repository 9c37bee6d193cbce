#include "device/boot_frame_commands.h"

#include "common/secure_functions.h"
#include "device/boot_frames.h"
#include "platform/monotonic_clock.h"

namespace {

constexpr unsigned long SIX_SEC = 6000;
constexpr unsigned long FRAME_READ_TIMEOUT = 500;
constexpr uint32_t REPLY_BUFFER_SIZE = 1024;

uint32_t Elapsed(uint32_t start)
{
    return Common::GetTime() - start;
}

}  // namespace

int BootFrameCommands::SendFrameBySerial(unsigned char* frame, unsigned long length, unsigned long replyWindow,
                                         unsigned long totalWindow)
{
    if (m_line.Transport() == nullptr || frame == nullptr) {
        return 0;
    }
    m_line.TakeBoardText();
    m_line.SetTimeout(replyWindow, replyWindow);
    const uint32_t start = Common::GetTime();
    bool nakSeen = false;
    while (Elapsed(start) < totalWindow) {
        if (ShouldStop()) {
            return 0;
        }
        if (m_line.Send(frame, length) < length) {
            continue;
        }
        const uint32_t replyStart = Common::GetTime();
        do {
            unsigned char byte = 0;
            while (m_line.Receive(&byte, 1) == 1) {
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
                while (!acked && m_line.Receive(&byte, 1) == 1) {
                    if (byte == Common::ACK) {
                        acked = true;
                    } else {
                        text.push_back(static_cast<char>(byte));
                    }
                }
                m_line.AddBoardText(text);
                if (acked) {
                    return 1;
                }
            }
        } while (m_line.WaitInWindow(replyStart, replyWindow));
    }
    if (nakSeen) {
        m_events.Fail(Common::OutcomeKind::COMMAND_REFUSED,
                      "Nack error(The serial port transmission may be unstable.).\n");
    } else {
        m_events.Fail(Common::OutcomeKind::TRANSFER, "Timeout error.\n");
        Common::Print(m_events.Events(), "1. Check whether the serial port connection is normal.\n");
        Common::Print(m_events.Events(), "2. The U-Boot is faulty.\n");
    }
    return 0;
}

bool BootFrameCommands::SendFrame(unsigned char* frame, unsigned long length, unsigned long replyWindow,
                                  unsigned long totalWindow, bool reportFailure)
{
    if (m_line.Transport() == nullptr || frame == nullptr) {
        return false;
    }
    m_line.SetTimeout(SIX_SEC, FRAME_READ_TIMEOUT);
    const uint32_t start = Common::GetTime();
    unsigned long sent = 0;
    while (Elapsed(start) < totalWindow) {
        if (m_line.CheckIsCancel()) {
            return false;
        }
        if (Common::Cancelled()) {
            m_events.Note(Common::OutcomeKind::CANCELLED, "user cancelled!\n");
            return false;
        }
        if (m_line.LineLost()) {
            return false;
        }
        m_line.TakeBoardText();
        sent += m_line.Send(frame + sent, length - sent);
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
                const unsigned long got = m_line.Receive(reply + count, Common::ACK_LEN);
                if (got == 0) {
                    break;
                }
                count += static_cast<uint32_t>(got);
                if (count >= Common::ACK_LEN && CheckReplyFrameValidity(reply, static_cast<int>(count), frame)) {
                    return true;
                }
            }
        } while (!bufferFull && m_line.WaitInWindow(replyStart, replyWindow));
        sent = 0;
    }
    if (!reportFailure) {
        m_events.Note(Common::OutcomeKind::TRANSFER, m_errorInfo);
        return false;
    }
    if (!m_errorInfo.empty()) {
        Common::PrintInfo(m_events.Events(), Common::NORMAL_INFO, "%s", m_errorInfo.c_str());
    }
    const std::string transportError = m_line.ErrorText();
    if (!transportError.empty()) {
        Common::PrintInfo(m_events.Events(), Common::NORMAL_INFO, "%s", transportError.c_str());
    }
    m_events.FailInfo(Common::OutcomeKind::TRANSFER, "send frame timeout error: %u.\n", Elapsed(start));
    return false;
}

bool BootFrameCommands::CheckReplyFrameValidity(const unsigned char* recv, int recvLength, const unsigned char* sent)
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
