#include "transport/rfc2217_line.h"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <string>
#include <utility>

#include "platform/monotonic_clock.h"
#include "transport/server_connection.h"

namespace {

// COM-PORT-OPTION requests (RFC 2217); the server answers a request with its
// code plus SERVER_OFFSET and the value it took.
constexpr uint8_t SET_BAUDRATE = 1;
constexpr uint8_t SET_DATASIZE = 2;
constexpr uint8_t SET_PARITY = 3;
constexpr uint8_t SET_STOPSIZE = 4;
constexpr uint8_t SET_CONTROL = 5;
constexpr uint8_t PURGE_DATA = 12;
constexpr uint8_t COMMAND_COUNT = 13;
constexpr uint8_t SERVER_OFFSET = 100;

constexpr uint8_t CONTROL_NO_FLOW_CONTROL = 1;
constexpr uint8_t CONTROL_DTR_ON = 8;
constexpr uint8_t CONTROL_DTR_OFF = 9;
constexpr uint8_t CONTROL_RTS_ON = 11;
constexpr uint8_t CONTROL_RTS_OFF = 12;
constexpr uint8_t PURGE_RECEIVE_BUFFER = 1;

// Our parity codes (0 none .. 4 space) are RFC 2217's less one.
constexpr uint32_t PARITY_CODES = 5;
constexpr uint8_t RFC_PARITY_OFFSET = 1;
// Our stop-bit codes 0 one, 1 one and a half, 2 two.
constexpr uint8_t RFC_STOPSIZE[] = {1, 3, 2};

constexpr size_t PUMP_CHUNK = 4096;
constexpr uint32_t CONTROL_STALL_MS = Rfc2217Line::ANSWER_WINDOW_MS;

std::vector<uint8_t> BigEndian32(uint32_t value)
{
    return {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value)};
}

std::string ValueText(const std::vector<uint8_t>& value)
{
    uint64_t number = 0;
    for (uint8_t byte : value) {
        number = number << 8 | byte;
    }
    return value.empty() ? std::string("nothing") : std::to_string(number);
}

// Data bytes fully contained in the first `sent` bytes of encoded data.
size_t DataBytesIn(const uint8_t* encoded, size_t sent)
{
    size_t count = 0;
    for (size_t i = 0; i < sent; ++i, ++count) {
        if (encoded[i] == Telnet::IAC) {
            if (i + 1 >= sent) {
                break;
            }
            ++i;
        }
    }
    return count;
}

}  // namespace

Rfc2217Line::Rfc2217Line(PortName name, Platform::HostLookup lookup)
    : m_name(std::move(name)),
      m_lookup(std::move(lookup)),
      m_answers(COMMAND_COUNT), m_answerSeen(COMMAND_COUNT), m_refusedDo(256), m_refusedWill(256)
{
}

// The server comes from the name the line was made for; the engine applies
// the settings right after.
LineStatus Rfc2217Line::Open(const LineSettings& /*settings*/)
{
    Close();
    m_decoder = Telnet::Decoder();
    m_heldData.clear();
    m_replies.clear();
    std::fill(m_answerSeen.begin(), m_answerSeen.end(), false);
    std::fill(m_refusedDo.begin(), m_refusedDo.end(), false);
    std::fill(m_refusedWill.begin(), m_refusedWill.end(), false);
    m_comPort = Offer::ASKED;
    m_binaryRefused = false;
    m_lost = false;
    LineStatus status = ServerConnection::Connect(m_name, m_socket, m_lookup);
    if (status.Ok()) {
        status = Negotiate();
    }
    if (!status.Ok()) {
        Close();
        ServerConnection::ReportOpenFailure(status);
    }
    return status;
}

void Rfc2217Line::Close()
{
    m_socket.Close();
}

LineStatus Rfc2217Line::Negotiate()
{
    std::vector<uint8_t> frame;
    for (uint8_t verb : {Telnet::WILL, Telnet::DO}) {
        Telnet::AppendOption(frame, verb, Telnet::OPTION_BINARY);
        Telnet::AppendOption(frame, verb, Telnet::OPTION_SUPPRESS_GO_AHEAD);
    }
    Telnet::AppendOption(frame, Telnet::WILL, Telnet::OPTION_COM_PORT);
    if (!SendControl(frame)) {
        return Lost();
    }
    LineStatus status = WaitUntil([this] { return m_comPort != Offer::ASKED || m_binaryRefused; },
                                  "the offer of RFC 2217 line control");
    if (status.Ok() && m_comPort == Offer::REFUSED) {
        return LineStatus::Fail(m_name.Server() +
                                    " does not offer RFC 2217 line control (for a raw TCP port name it socket://)",
                                EPROTO);
    }
    if (status.Ok() && m_binaryRefused) {
        return LineStatus::Fail(m_name.Server() + " refuses binary transmission", EPROTO);
    }
    return status;
}

LineStatus Rfc2217Line::Apply(const LineSettings& settings)
{
    LineStatus rate = CheckRate(settings.baudRate);
    if (!rate.Ok()) {
        return rate;
    }
    if (settings.parity >= PARITY_CODES || settings.stopBits >= sizeof(RFC_STOPSIZE) || settings.dataBits > UINT8_MAX) {
        return LineStatus::Fail("no such character format", EINVAL);
    }
    return Exchange({
        {SET_BAUDRATE, BigEndian32(settings.baudRate), "the rate"},
        {SET_DATASIZE, {static_cast<uint8_t>(settings.dataBits)}, "the data size"},
        {SET_PARITY, {static_cast<uint8_t>(settings.parity + RFC_PARITY_OFFSET)}, "the parity"},
        {SET_STOPSIZE, {RFC_STOPSIZE[settings.stopBits]}, "the stop bits"},
        {SET_CONTROL, {CONTROL_NO_FLOW_CONTROL}, "flow control off"},
    });
}

LineStatus Rfc2217Line::CheckRate(uint32_t baudRate) const
{
    // Whether the server's port can run at a rate only its answer tells.
    return baudRate == 0 ? LineStatus::Fail("no such rate", EINVAL) : LineStatus();
}

LineStatus Rfc2217Line::SetModemLine(ModemLine line, bool on)
{
    uint8_t value = line == ModemLine::DTR ? (on ? CONTROL_DTR_ON : CONTROL_DTR_OFF)
                                           : (on ? CONTROL_RTS_ON : CONTROL_RTS_OFF);
    return Exchange({{SET_CONTROL, {value}, line == ModemLine::DTR ? "the DTR line" : "the RTS line"}});
}

LineStatus Rfc2217Line::Exchange(const std::vector<Request>& requests)
{
    std::vector<uint8_t> frame;
    for (const Request& request : requests) {
        m_answerSeen[request.command] = false;
        std::vector<uint8_t> payload(1 + request.value.size(), request.command);
        std::copy(request.value.begin(), request.value.end(), payload.begin() + 1);
        Telnet::AppendSubnegotiation(frame, Telnet::OPTION_COM_PORT, payload);
    }
    if (!SendControl(frame)) {
        return Lost();
    }
    const Request* unanswered = nullptr;
    LineStatus status = WaitUntil(
        [this, &requests, &unanswered] {
            auto open = std::find_if(requests.begin(), requests.end(),
                                     [this](const Request& r) { return !m_answerSeen[r.command]; });
            unanswered = open == requests.end() ? nullptr : &*open;
            return unanswered == nullptr;
        },
        "");
    if (!status.Ok()) {
        if (unanswered != nullptr && status.error == ETIMEDOUT) {
            status.reason = "the serial server did not confirm " + std::string(unanswered->what) + " " +
                            ValueText(unanswered->value) + " within " + std::to_string(ANSWER_WINDOW_MS) + " ms";
        }
        return status;
    }
    for (const Request& request : requests) {
        const std::vector<uint8_t>& answer = m_answers[request.command];
        if (answer != request.value) {
            return LineStatus::Fail("the serial server set " + std::string(request.what) + " to " + ValueText(answer) +
                                        " instead of " + ValueText(request.value),
                                    EINVAL);
        }
    }
    return LineStatus();
}

LineStatus Rfc2217Line::WaitUntil(const std::function<bool()>& done, const char* what)
{
    const int64_t deadline = Platform::MonotonicMs() + ANSWER_WINDOW_MS;
    for (;;) {
        if (done()) {
            return LineStatus();
        }
        if (m_lost) {
            return Lost();
        }
        const int64_t left = deadline - Platform::MonotonicMs();
        if (left <= 0) {
            return LineStatus::Fail("the serial server did not answer " + std::string(what) + " within " +
                                        std::to_string(ANSWER_WINDOW_MS) + " ms",
                                    ETIMEDOUT);
        }
        Platform::SerialWait event = m_socket.Wait(static_cast<int>(left));
        if (event == Platform::SerialWait::READABLE) {
            Pump();
        } else if (event == Platform::SerialWait::FAILED) {
            return LineStatus::Fail("waiting for the serial server failed", EIO);
        }
    }
}

void Rfc2217Line::Pump()
{
    uint8_t chunk[PUMP_CHUNK];
    Platform::SerialIoResult r = m_socket.Read(chunk, sizeof(chunk));
    size_t count = 0;
    Take(chunk, r.count, chunk, count);
    m_heldData.insert(m_heldData.end(), chunk, chunk + count);
    m_lost = m_lost || r.lineLost;
}

void Rfc2217Line::Take(uint8_t* raw, size_t count, uint8_t* data, size_t& dataCount)
{
    m_commands.clear();
    dataCount = m_decoder.Feed(raw, count, data, m_commands);
    for (const Telnet::Command& command : m_commands) {
        OnCommand(command);
    }
}

void Rfc2217Line::OnCommand(const Telnet::Command& command)
{
    using Telnet::Command;
    if (command.kind == Command::Kind::SUBNEGOTIATION) {
        // Answers; line and modem state notices are recorded the same way and
        // never looked at.
        if (command.option == Telnet::OPTION_COM_PORT && !command.payload.empty() &&
            command.payload[0] >= SERVER_OFFSET && command.payload[0] - SERVER_OFFSET < COMMAND_COUNT) {
            const uint8_t code = static_cast<uint8_t>(command.payload[0] - SERVER_OFFSET);
            m_answers[code].assign(command.payload.begin() + 1, command.payload.end());
            m_answerSeen[code] = true;
        }
        return;
    }
    if (command.kind != Command::Kind::OPTION) {
        return;
    }
    const uint8_t option = command.option;
    const bool asked = option == Telnet::OPTION_BINARY || option == Telnet::OPTION_SUPPRESS_GO_AHEAD;
    switch (command.verb) {
        case Telnet::DO:
            if (option == Telnet::OPTION_COM_PORT) {
                m_comPort = Offer::ACCEPTED;
            } else if (!asked && !m_refusedDo[option]) {
                m_refusedDo[option] = true;
                Telnet::AppendOption(m_replies, Telnet::WONT, option);
            }
            break;
        case Telnet::WILL:
            if (!asked && !m_refusedWill[option]) {
                m_refusedWill[option] = true;
                Telnet::AppendOption(m_replies, Telnet::DONT, option);
            }
            break;
        case Telnet::DONT:
            m_comPort = option == Telnet::OPTION_COM_PORT ? Offer::REFUSED : m_comPort;
            m_binaryRefused = m_binaryRefused || option == Telnet::OPTION_BINARY;
            break;
        case Telnet::WONT:
            m_binaryRefused = m_binaryRefused || option == Telnet::OPTION_BINARY;
            break;
        default:
            break;
    }
}

bool Rfc2217Line::SendControl(const std::vector<uint8_t>& frame)
{
    std::vector<uint8_t> bytes;
    bytes.swap(m_replies);
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    if (bytes.empty()) {
        return true;
    }
    Platform::SerialIoResult r = m_socket.Write(bytes.data(), bytes.size(), CONTROL_STALL_MS);
    m_lost = m_lost || r.lineLost;
    return r.count == bytes.size();
}

LineStatus Rfc2217Line::Lost() const
{
    return LineStatus::Fail("the connection to " + m_name.Server() + " was closed", ECONNRESET);
}

Platform::SerialIoResult Rfc2217Line::Read(uint8_t* buffer, size_t size)
{
    Platform::SerialIoResult result;
    if (!m_heldData.empty()) {
        result.count = std::min(size, m_heldData.size());
        std::copy(m_heldData.begin(), m_heldData.begin() + static_cast<long>(result.count), buffer);
        m_heldData.erase(m_heldData.begin(), m_heldData.begin() + static_cast<long>(result.count));
        return result;
    }
    if (m_lost) {
        result.error = ECONNRESET;
        result.lineLost = true;
        return result;
    }
    // Decoded in place: data never runs ahead of the raw bytes.
    Platform::SerialIoResult raw = m_socket.Read(buffer, size);
    Take(buffer, raw.count, buffer, result.count);
    result.error = raw.error;
    result.lineLost = raw.lineLost;
    m_lost = m_lost || raw.lineLost;
    return result;
}

Platform::SerialIoResult Rfc2217Line::Write(const uint8_t* data, size_t length, uint32_t stallMs)
{
    std::vector<uint8_t> bytes;
    bytes.swap(m_replies);
    const size_t replies = bytes.size();
    bytes.reserve(replies + length + length / 64);
    Telnet::AppendData(bytes, data, length);
    Platform::SerialIoResult r = m_socket.Write(bytes.data(), bytes.size(), stallMs);
    m_lost = m_lost || r.lineLost;
    r.count = r.count == bytes.size() ? length
                                      : (r.count > replies ? DataBytesIn(bytes.data() + replies, r.count - replies) : 0);
    return r;
}

Platform::SerialWait Rfc2217Line::Wait(int timeoutMs)
{
    if (!m_heldData.empty()) {
        return Platform::SerialWait::READABLE;
    }
    if (m_lost) {
        return Platform::SerialWait::LINE_LOST;
    }
    return m_socket.Wait(timeoutMs);
}

void Rfc2217Line::PurgeInput()
{
    std::vector<uint8_t> frame;
    Telnet::AppendSubnegotiation(frame, Telnet::OPTION_COM_PORT, {PURGE_DATA, PURGE_RECEIVE_BUFFER});
    (void)SendControl(frame);  // its answer is not waited for
    size_t before = 0;
    do {
        before = m_heldData.size();
        Pump();
    } while (m_heldData.size() > before && !m_lost);
    m_heldData.clear();
}
