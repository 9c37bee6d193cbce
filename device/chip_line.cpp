#include "device/chip_line.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/hot_path.h"
#include "platform/monotonic_clock.h"

namespace {

// The port is given a moment before new settings, as the boards expect.
constexpr uint32_t REOPEN_COM_SLEEP = 10;
// Longest single wait inside a reply window, so that a lost line or a cancel
// is noticed even while the board stays silent.
constexpr uint32_t WAIT_SLICE_MS = 50;

Common::TRANSPORT_MODE_ATTR_U Attributes(const std::string& name, unsigned int baud, int stopBit, int parity)
{
    Common::TRANSPORT_MODE_ATTR_U attr;
    attr.serial.portName = name;
    attr.serial.baudRate = baud;
    attr.serial.stopBits = static_cast<uint32_t>(stopBit);
    attr.serial.parity = static_cast<uint32_t>(parity);
    return attr;
}

}  // namespace

ChipLine::~ChipLine()
{
    if (m_transport) {
        m_transport->Close();
    }
}

void ChipLine::Attach(std::unique_ptr<TransportTypeBase> line)
{
    if (m_transport) {
        m_transport->Close();
    }
    m_transport = std::move(line);
    m_isOpened = false;
}

bool ChipLine::Open(unsigned int baud, int stopBit, int parity)
{
    if (!m_transport) {
        Common::Print(m_events.Events(), "new serport transport failed\n");
        return false;
    }
    m_transport->Close();
    m_isOpened = false;
    // POSIX port names are device paths and may be longer than a COM name.
    if (!m_transport->Open(Attributes(m_requested.portName, baud, stopBit, parity))) {
        return false;
    }
    m_isOpened = true;
    m_events.Events().LineRateChanged(baud);
    return true;
}

bool ChipLine::Apply(unsigned int baud, int stopBit, int parity)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(REOPEN_COM_SLEEP));
    LineSettings settings;
    settings.portName = m_transport ? m_transport->GetDeviceName() : std::string();
    settings.baudRate = baud;
    settings.stopBits = static_cast<uint32_t>(stopBit);
    settings.parity = static_cast<uint32_t>(parity);
    const LineStatus status =
        m_transport ? m_transport->ApplyLineSettings(settings) : LineStatus::Fail("the port is not open");
    if (status.Ok()) {
        m_events.Events().LineRateChanged(baud);
    }
    return ReportRefusal(baud, status);
}

bool ChipLine::CheckRate(unsigned int baud)
{
    return ReportRefusal(baud, m_transport ? m_transport->CheckRate(baud) : LineStatus::Fail("the port is not open"));
}

bool ChipLine::ReportRefusal(unsigned int baud, const LineStatus& status)
{
    if (status.Ok()) {
        return true;
    }
    const std::string port = m_transport ? m_transport->GetDeviceName() : std::string();
    const std::string reason = status.reason.empty() ? "refused" : status.reason;
    m_events.FailInfo(Common::OutcomeKind::RATE_REFUSED, "error: the line %s cannot run at %u baud: %s.\n",
                      port.c_str(), baud, reason.c_str());
    return false;
}

HOT_PATH unsigned long ChipLine::Send(const unsigned char* data, unsigned long length)
{
    return m_transport ? m_transport->Send(data, length) : 0;
}

HOT_PATH unsigned long ChipLine::Receive(unsigned char* buffer, unsigned long length)
{
    return m_transport ? m_transport->Receive(buffer, length) : 0;
}

HOT_PATH bool ChipLine::WaitForData(uint32_t timeoutMs)
{
    return m_transport ? m_transport->WaitForData(timeoutMs) : false;
}

bool ChipLine::WaitInWindow(uint32_t start, unsigned long window)
{
    if (!m_transport) {
        return false;
    }
    const uint32_t elapsed = Common::GetTime() - start;
    if (elapsed >= window) {
        return false;
    }
    const unsigned long left = window - elapsed;
    if (m_transport->WaitForData(static_cast<uint32_t>(std::min<unsigned long>(left, WAIT_SLICE_MS)))) {
        return true;  // bytes that came before a loss are still read
    }
    return !LineLost();
}

void ChipLine::SetTimeout(unsigned long writeTimeout, unsigned long readTimeout)
{
    if (m_transport) {
        m_transport->SetTimeout(writeTimeout, readTimeout);
    }
}

HOT_PATH bool ChipLine::LineLost()
{
    if (!IsBroken()) {
        return false;
    }
    // Asking once more lets the transport tell the user (it does so once).
    m_transport->WaitForData(0);
    m_events.Note(Common::OutcomeKind::LINE_LOST, LINE_LOST_MESSAGE);
    return true;
}

HOT_PATH bool ChipLine::CheckIsCancel()
{
    if (!m_transport || !m_transport->IsCancel()) {
        return false;
    }
    m_events.Note(Common::OutcomeKind::CANCELLED, CANCELLED_MESSAGE);
    return true;
}

void ChipLine::SetIsCancel()
{
    if (m_transport) {
        m_transport->SetIsCancel(true);
    }
}

void ChipLine::TakeBoardText()
{
    if (m_transport) {
        m_transport->OnAdataAvailable(m_recvText);
        KeepBoardTextBounded();
    }
}

void ChipLine::AddBoardText(const std::string& text)
{
    m_recvText += text;
    KeepBoardTextBounded();
}

void ChipLine::KeepBoardTextBounded()
{
    if (m_recvText.size() > BOARD_TEXT_KEPT) {
        m_recvText.erase(0, m_recvText.size() - BOARD_TEXT_KEPT);
    }
}
