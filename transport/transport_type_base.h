// The byte transport between the tool and a board. Sending is synchronous;
// Receive never blocks, and callers wait for bytes with WaitForData instead
// of sleeping.
#pragma once

#include <cstdint>
#include <string>

#include "transport/line_settings.h"

namespace Common {

constexpr int UART_NAME_LEN = 32;  // Windows COM names; POSIX device paths may be longer

// Open attributes of a transport: the line settings, carried whole.
struct TRANSPORT_MODE_ATTR_U {
    LineSettings serial;
};

}  // namespace Common

// What a line prints when it goes away under an open port, and when it
// reports a cancel; the chip keeps the same texts as the failure they cause.
inline constexpr const char* LINE_LOST_MESSAGE = "error: the serial line was lost.\n";
inline constexpr const char* CANCELLED_MESSAGE = "\nUser Cancelled!\n";

class TransportTypeBase {
public:
    virtual ~TransportTypeBase() = default;

    virtual bool Open(const Common::TRANSPORT_MODE_ATTR_U& attr) = 0;
    virtual void Close() = 0;
    virtual unsigned long Send(const unsigned char* data, unsigned long length) = 0;
    virtual unsigned long Receive(unsigned char* buffer, unsigned long length) = 0;
    virtual bool SetTimeout(unsigned long /*writeTimeout*/, unsigned long /*readTimeout*/) { return true; }
    virtual int OnAdataAvailable(std::string& /*text*/) { return 0; }
    virtual void ClearRecvBuff() {}

    // Waits until at least one received byte is pending or timeoutMs has
    // passed; true when bytes are pending. Replaces "sleep, then poll".
    virtual bool WaitForData(uint32_t timeoutMs) = 0;
    // True once the line has gone away under an open port (cable pulled,
    // device removed); every later wait and send fails at once.
    virtual bool IsBroken() const { return false; }

    // Applies new settings (a new rate, say) to the open line; the result
    // says whether the line took them. A line that cannot change refuses.
    virtual LineStatus ApplyLineSettings(const LineSettings& settings);
    // Whether the open line could take this rate, asked before the rate is
    // offered to a board.
    virtual LineStatus CheckRate(uint32_t baudRate) const;
    virtual LineStatus SetModemLine(ModemLine line, bool on);

    std::string GetDeviceName() const { return m_deviceName; }
    std::string GetErrorStrInfo() const { return m_errorText; }
    int GetErrorCode() const { return m_errorCode; }
    void SetIsCancel(bool cancel) { m_isCancel = cancel; }
    // Reports a pending cancel once ("\nUser Cancelled!\n") and clears the flag.
    bool IsCancel();

protected:
    bool m_isCancel = false;
    std::string m_deviceName;
    int m_errorCode = 0;
    std::string m_errorText;
};
