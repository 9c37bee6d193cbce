#include "device/typesix/typesix_link.h"

#include "platform/monotonic_clock.h"
#include "common/file_helpers.h"
#include "device/burn_chip_base.h"
#include "device/typesix/typesix_frames.h"

namespace {

// Wait for bytes between two looks at the board; returns at once when some arrive.
constexpr uint32_t POLL_MS = 5;

bool Has(const std::string& text, const char* mark)
{
    return text.find(mark) != std::string::npos;
}

}  // namespace

uint8_t TypeSixLink::NextSequence()
{
    return static_cast<uint8_t>(m_sequence++ & 0xFFu);
}

bool TypeSixLink::ShouldStop()
{
    return m_chip.CheckIsCancel() || m_chip.LineLost();
}

// --- frames -------------------------------------------------------------------------------

TypeSixLink::Outcome TypeSixLink::CollectAnswer(unsigned long window, const Examine& examine)
{
    m_answerBuffer.resize(MAX_RECV_BUFFER_SIZE);
    size_t count = 0;
    const uint32_t start = Common::GetTime();
    while (Common::GetTime() - start < window) {
        if (ShouldStop()) {
            return Outcome::ABORTED;
        }
        m_chip.WaitForData(POLL_MS);
        const unsigned long got = m_chip.Receive(m_answerBuffer.data() + count, MAX_FRAME_LEN);
        if (got == 0) {
            continue;
        }
        count += got;
        if (count > MAX_GATHERED) {
            return Outcome::TIMED_OUT;  // nothing useful in all that: send again
        }
        switch (examine(m_answerBuffer.data(), count)) {
            case 0:
                return Outcome::REJECTED;
            case 1:
                return Outcome::ACCEPTED;
            default:
                break;
        }
    }
    return Outcome::TIMED_OUT;
}

TypeSixLink::Outcome TypeSixLink::Exchange(const std::vector<uint8_t>& payload, unsigned long attemptWindow,
                                           unsigned long totalWindow, const Examine& examine)
{
    const std::vector<uint8_t> frame = TypeSixFrames::Wrap(payload);
    const unsigned long frameLength = static_cast<unsigned long>(frame.size());
    const uint32_t start = Common::GetTime();
    while (Common::GetTime() - start < totalWindow) {
        if (ShouldStop()) {
            return Outcome::ABORTED;
        }
        if (m_chip.Send(frame.data(), frameLength) < frameLength) {
            continue;
        }
        Common::PrintSendRecv(0, frame.data(), static_cast<uint32_t>(frameLength));
        const Outcome outcome = CollectAnswer(attemptWindow, examine);
        if (outcome != Outcome::TIMED_OUT) {
            return outcome;
        }
    }
    return Outcome::TIMED_OUT;
}

bool TypeSixLink::SendCommand(const std::vector<uint8_t>& payload, unsigned long attemptWindow,
                              unsigned long totalWindow)
{
    if (payload.empty()) {
        return false;  // the frame could not be built
    }
    const auto examine = [this](const uint8_t* bytes, size_t count) {
        return CheckRecvData(bytes, static_cast<unsigned long>(count));
    };
    const Outcome outcome = Exchange(payload, attemptWindow, totalWindow, examine);
    if (outcome == Outcome::TIMED_OUT) {
        // A detail only: the caller's message says which command went unanswered.
        Common::PrintInfo(m_chip.Events(), Common::DEBUG_INFO, "Timeout error.\n");
        m_chip.Report().Note(Common::OutcomeKind::TRANSFER, std::string_view());
    }
    return outcome == Outcome::ACCEPTED;
}

int TypeSixLink::CheckRecvData(const unsigned char* data, unsigned long length) const
{
    std::vector<uint8_t> payload;
    if (!TypeSixFrames::UnwrapFirstFrame(data, length, payload)) {
        return 2;
    }
    Common::PrintSendRecv(1, payload.data(), static_cast<uint32_t>(payload.size()));
    TypeSixFrames::Answer answer;
    if (!TypeSixFrames::ReadAnswer(payload, answer)) {
        // Too short to be an answer; the attempt runs out and the frame goes again.
        Common::PrintInfo(m_chip.Events(), Common::DEBUG_INFO, "answer of %zu bytes is too short.\n", payload.size());
        return 2;
    }
    if (answer.ack != TypeSixFrames::ACK_VALUE) {
        m_chip.Report().FailInfo(Common::OutcomeKind::COMMAND_REFUSED, "ack error1:%d\n", answer.ack);
        return 0;
    }
    if (answer.returnCode != TypeSixFrames::RETURN_CODE_VALUE) {
        m_chip.Report().FailInfo(Common::OutcomeKind::COMMAND_REFUSED, "return code error:%d\n", answer.returnCode);
        return 0;
    }
    if (!answer.CheckMatches()) {
        m_chip.Report().FailInfo(Common::OutcomeKind::TRANSFER, "the calculated  crc:%d is not equal to the received crc:%d.\n",
                          answer.computedCheck, answer.check);
        return 0;
    }
    return 1;
}

bool TypeSixLink::SendUnanswered(const std::vector<uint8_t>& payload)
{
    // Wrapped like every other frame: a 5C in the sequence or check byte is doubled.
    const std::vector<uint8_t> frame = TypeSixFrames::Wrap(payload);
    const unsigned long frameLength = static_cast<unsigned long>(frame.size());
    return m_chip.Send(frame.data(), frameLength) == frameLength;
}

bool TypeSixLink::SendReset(ResetSequence sequence)
{
    const uint8_t seq = sequence == ResetSequence::ZERO ? 0x00 : NextSequence();
    if (!SendUnanswered(TypeSixFrames::ResetPayload(seq))) {
        return false;
    }
    // The boot ROM and the ssb load run at the boot rate.
    return m_chip.ReSettingSerialParameters(BurnChipBase::Family().bootRate, 0, 0);
}

void TypeSixLink::DiscardPending()
{
    uint8_t bytes[MAX_FRAME_LEN];
    while (m_chip.Receive(bytes, sizeof(bytes)) > 0) {
    }
}

// --- the board's start text -------------------------------------------------------------

bool TypeSixLink::PollBoardText(std::string& text)
{
    m_chip.WaitForData(POLL_MS);
    uint8_t bytes[MAX_FRAME_LEN];
    const unsigned long got = m_chip.Receive(bytes, sizeof(bytes));
    if (got == 0) {
        return false;
    }
    TypeSixFrames::AppendBoardText(text, bytes, got);
    return true;
}

TypeSixLink::BoardText TypeSixLink::AwaitBoardText(uint32_t start, Listen listen)
{
    const uint32_t limit = m_chip.GetSettings().handshakeTimeout;
    std::string text;
    for (;;) {
        if (ShouldStop()) {
            return BoardText::STOPPED;
        }
        if (limit != NO_HANDSHAKE_LIMIT && Common::GetTime() - start > limit) {
            return BoardText::TIMED_OUT;
        }
        if (!PollBoardText(text)) {
            continue;
        }
        if (listen == Listen::ROM_AND_SSB && Has(text, TypeSixFrames::ROM_TEXT)) {
            return BoardText::ROM;
        }
        if (Has(text, TypeSixFrames::SSB_TEXT)) {
            return BoardText::SSB;
        }
    }
}

// --- packets ------------------------------------------------------------------------------

TypeSixLink::PacketRun TypeSixLink::SendPackets(const uint8_t* data, uint32_t length, uint32_t total,
                                                uint32_t& sent, const PacketSender& send)
{
    const uint32_t packetSize = m_chip.GetSettings().perPacketSize;
    if (packetSize < 1) {
        return PacketRun::NO_PACKET_SIZE;
    }
    const uint32_t packets = static_cast<uint32_t>((static_cast<uint64_t>(length) + packetSize - 1) / packetSize);
    const uint32_t rest = length % packetSize;
    uint32_t offset = 0;
    for (uint32_t number = 0; number < packets; ++number) {
        if (m_chip.CheckIsCancel()) {
            return PacketRun::CANCELLED;
        }
        const bool last = number + 1 == packets;
        const uint32_t size = (last && rest != 0) ? rest : packetSize;
        if (!send(number, data + offset, size, last)) {
            return PacketRun::FAILED;
        }
        Common::Print(m_chip.Events(), "#");
        offset += size;
        sent += size;
        if (length > packetSize) {
            m_chip.SetProgress(Percent(sent, total));
        }
    }
    return PacketRun::DONE;
}

int TypeSixLink::Percent(uint32_t done, uint32_t total)
{
    return static_cast<int>(100.0f * (static_cast<float>(done) / static_cast<float>(total)));
}
