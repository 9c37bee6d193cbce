// A line to a serial server that speaks RFC 2217 (rfc2217://): the board's
// bytes travel as telnet data, and the line settings as COM-PORT-OPTION
// requests that count as applied only once the server has confirmed them.
// Data that arrives while a request waits for its answer is kept for Read.
// One thread uses a line at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/tcp_socket.h"
#include "transport/line_device.h"
#include "transport/port_name.h"
#include "transport/telnet_codec.h"

class Rfc2217Line : public LineDevice {
public:
    // A request waits this long for the server's answer.
    static constexpr int ANSWER_WINDOW_MS = 2500;

    // The server named; lookup finds its addresses (the system's resolver
    // unless a test holds it).
    explicit Rfc2217Line(PortName name, Platform::HostLookup lookup = Platform::SystemHostLookup);

    LineStatus Open(const LineSettings& settings) override;
    void Close() override;
    bool IsOpen() const override { return m_socket.IsOpen(); }

    LineStatus Apply(const LineSettings& settings) override;
    LineStatus CheckRate(uint32_t baudRate) const override;

    Platform::SerialIoResult Read(uint8_t* buffer, size_t size) override;
    Platform::SerialIoResult Write(const uint8_t* data, size_t length, uint32_t stallMs) override;
    Platform::SerialWait Wait(int timeoutMs) override;
    void PurgeInput() override;
    LineStatus SetModemLine(ModemLine line, bool on) override;

private:
    struct Request {
        uint8_t command;
        std::vector<uint8_t> value;
        const char* what;  // for the reason of a refusal
    };
    enum class Offer { ASKED, ACCEPTED, REFUSED };

    LineStatus Negotiate();
    // Reads and decodes until done holds, the line is lost or the answer
    // window has passed.
    LineStatus WaitUntil(const std::function<bool()>& done, const char* what);
    // Sends the requests together and waits until the server has answered
    // each with the value asked for.
    LineStatus Exchange(const std::vector<Request>& requests);
    // Reads what is there and decodes it: data kept for Read, answers recorded.
    void Pump();
    void Take(uint8_t* raw, size_t count, uint8_t* data, size_t& dataCount);
    void OnCommand(const Telnet::Command& command);
    // Sends replies queued by the decoder and then frame; false when it did not all go.
    bool SendControl(const std::vector<uint8_t>& frame);
    LineStatus Lost() const;

    const PortName m_name;
    const Platform::HostLookup m_lookup;
    Platform::TcpSocket m_socket;
    Telnet::Decoder m_decoder;
    std::vector<Telnet::Command> m_commands;
    std::vector<uint8_t> m_heldData;
    std::vector<uint8_t> m_replies;  // option refusals not sent yet
    std::vector<std::vector<uint8_t>> m_answers;  // by request code; empty: none yet
    std::vector<bool> m_answerSeen;
    Offer m_comPort = Offer::ASKED;
    bool m_binaryRefused = false;
    bool m_lost = false;
    std::vector<bool> m_refusedDo;    // options already refused once
    std::vector<bool> m_refusedWill;
};
