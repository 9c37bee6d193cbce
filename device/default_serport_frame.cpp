#include "device/default_serport_frame.h"

#include <algorithm>
#include <string>

#include "platform/monotonic_clock.h"
#include "device/boot_frames.h"
#include "device/burn_chip_base.h"

namespace DefaultSerportFrameSp {

namespace {

constexpr unsigned long CMD_FRAME_REPLY_WINDOW = 500;
constexpr char ANSWER_OK[] = "[EOT](OK)";
constexpr char ANSWER_ERROR[] = "[EOT](ERROR)";
// Longest single wait for the answer, so a cancel or a lost line is noticed.
constexpr uint32_t ANSWER_WAIT_SLICE_MS = 50;

} // namespace

int DefaultSerportFrame::SendCmd(unsigned char* cmd, unsigned long length, unsigned char* reply, int replySize,
                                 int timeout)
{
    if (m_chip == nullptr) {
        return 0;
    }
    const unsigned long window = timeout < 0 ? 0 : static_cast<unsigned long>(timeout);
    auto head = BootFrame::BuildCmdHeadFrame(static_cast<uint32_t>(length));
    if (m_chip->SendFrameBySerial(head.data(), head.size(), CMD_FRAME_REPLY_WINDOW, window) == 0) {
        m_chip->Fail(Common::OutcomeKind::TRANSFER, "Failed to send the command head!\n");
        return 0;
    }
    if (length > BootFrame::MAX_CMD_LENGTH) {
        m_chip->Report().FailInfo(Common::OutcomeKind::COMMAND_REFUSED,
                                  "The command contains a maximum of %u characters.!\n", BootFrame::MAX_CMD_LENGTH);
        return 0;
    }
    std::array<uint8_t, BootFrame::CMD_FRAME_BUFFER_SIZE> data{};
    const uint32_t frameLength = BootFrame::BuildCmdDataFrame(cmd, static_cast<uint32_t>(length), data);
    if (frameLength == 0) {
        return 0;
    }
    if (m_chip->SendFrameBySerial(data.data(), frameLength, CMD_FRAME_REPLY_WINDOW, window) == 0) {
        m_chip->Fail(Common::OutcomeKind::TRANSFER, "Failed to send the command data!\n");
        return 0;
    }
    if (reply == nullptr) {
        return 1;
    }
    return ReceiveBoardCmdRespond(reply, replySize, timeout);
}

int DefaultSerportFrame::ReceiveBoardCmdRespond(unsigned char* reply, int replySize, int timeout)
{
    if (m_chip == nullptr || reply == nullptr || replySize <= 0) {
        return 0;
    }
    const uint32_t window = timeout < 0 ? 0u : static_cast<uint32_t>(timeout);
    const uint32_t start = Common::GetTime();
    std::string answer;
    int count = 0;
    bool refused = false;
    while (Common::GetTime() - start < window) {
        if (m_chip->CheckIsCancel()) {
            return 0;
        }
        if (m_chip->LineLost()) {
            break;
        }
        const uint32_t left = window - (Common::GetTime() - start);
        m_chip->WaitForData(std::min(left, ANSWER_WAIT_SLICE_MS));
        if (count >= replySize) {
            m_chip->Report().FailInfo(Common::OutcomeKind::TRANSFER,
                                      "A maximum of %d characters can be received.\n", replySize);
            return 0;
        }
        const unsigned long got =
            m_chip->Receive(reply + count, static_cast<unsigned long>(replySize - count));
        if (got == 0) {
            continue;
        }
        // Taken as text: up to the first zero byte, never past what arrived.
        const char* chunkStart = reinterpret_cast<const char*>(reply + count);
        const std::string chunk(chunkStart, std::find(chunkStart, chunkStart + got, '\0'));
        m_chip->Events().BoardText(chunk);
        answer += chunk;
        count += static_cast<int>(got);
        if (answer.find(ANSWER_OK) != std::string::npos) {
            return 1;
        }
        if (answer.find(ANSWER_ERROR) != std::string::npos) {
            refused = true;
            break;
        }
    }
    m_chip->Report().FailInfo(refused ? Common::OutcomeKind::COMMAND_REFUSED : Common::OutcomeKind::TRANSFER,
                              "\nReceive board respond timeout: %u ms.\n", Common::GetTime() - start);
    return 0;
}

} // namespace DefaultSerportFrameSp
