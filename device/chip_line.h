// The chip object's line to its board: the transport it was handed, the
// settings the run asked for, the board's text between frames, and the
// checks every wait makes (a cancel, a lost line), each of which becomes the
// failure of the operation in progress.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "device/chip_report.h"
#include "transport/line_settings.h"
#include "transport/transport_type_base.h"

class ChipLine {
public:
    explicit ChipLine(ChipReport& events) : m_events(events) {}
    ~ChipLine();
    ChipLine(const ChipLine&) = delete;
    ChipLine& operator=(const ChipLine&) = delete;

    // The line to open later (closed); an earlier one is closed first.
    void Attach(std::unique_ptr<TransportTypeBase> line);
    // Opens the attached line at these settings; the port name is the run's.
    bool Open(unsigned int baud, int stopBit, int parity);
    bool IsOpen() const { return m_isOpened; }
    TransportTypeBase* Transport() { return m_transport.get(); }

    // What the run asked for: port, the rate the board is to run at, stop bits, parity.
    LineSettings& Requested() { return m_requested; }
    const LineSettings& Requested() const { return m_requested; }
    // Applies new settings to the open line; false, after the message naming
    // the rate and the port, when the line refuses them.
    bool Apply(unsigned int baud, int stopBit, int parity);
    // Whether the line could follow the board to this rate; false after the same message.
    bool CheckRate(unsigned int baud);

    unsigned long Send(const unsigned char* data, unsigned long length);
    unsigned long Receive(unsigned char* buffer, unsigned long length);
    bool WaitForData(uint32_t timeoutMs);
    // Waits for received bytes until window ms after start; false once the
    // window is over or the line is gone.
    bool WaitInWindow(uint32_t start, unsigned long window);
    void SetTimeout(unsigned long writeTimeout, unsigned long readTimeout);
    bool IsBroken() const { return m_transport && m_transport->IsBroken(); }
    // IsBroken, kept as the operation's failure; the transport tells the user (once).
    bool LineLost();
    // A pending cancel, reported once and kept as the operation's failure.
    bool CheckIsCancel();
    void SetIsCancel();
    // The transport's text of its last failure, and its errno.
    std::string ErrorText() const { return m_transport ? m_transport->GetErrorStrInfo() : std::string(); }
    int ErrorCode() const { return m_transport ? m_transport->GetErrorCode() : 0; }

    // What the board wrote between frames: what the line holds now is moved
    // into it. Only its last BOARD_TEXT_KEPT bytes are kept.
    void TakeBoardText();
    void AddBoardText(const std::string& text);
    const std::string& BoardText() const { return m_recvText; }
    static constexpr size_t BOARD_TEXT_KEPT = 64 * 1024;

private:
    bool ReportRefusal(unsigned int baud, const LineStatus& status);
    void KeepBoardTextBounded();

    ChipReport& m_events;
    std::unique_ptr<TransportTypeBase> m_transport;
    LineSettings m_requested;
    std::string m_recvText;
    bool m_isOpened = false;
};
