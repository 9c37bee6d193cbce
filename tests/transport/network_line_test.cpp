// The network lines against scripted servers on 127.0.0.1: what an RFC 2217
// line does when the server refuses, stays silent, mixes notices and option
// requests into the data, or goes away; and a look-up that never answers. The
// happy paths, the system's look-up included, run end to end through ser2net.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "transport/raw_socket_line.h"
#include "transport/rfc2217_line.h"
#include "transport/server_connection.h"
#include "transport/telnet_codec.h"
#include "support/loopback_socket.h"
#include "support/test_files.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using TestSupport::Contains;

constexpr uint8_t COM_PORT = Telnet::OPTION_COM_PORT;
constexpr uint8_t SET_BAUDRATE = 1;
constexpr uint8_t SET_CONTROL = 5;
constexpr uint8_t SERVER_OFFSET = 100;
constexpr int PEER_TIMEOUT_MS = 10000;

// One connection on a free port of 127.0.0.1, served by a script on its own thread.
class ScriptedServer {
public:
    explicit ScriptedServer(std::function<void(int)> script)
    {
        if (m_listen.fd >= 0 && listen(m_listen.fd, 1) == 0) {
            m_thread = std::thread([this, script] {
                pollfd pfd{m_listen.fd, POLLIN, 0};
                if (poll(&pfd, 1, PEER_TIMEOUT_MS) == 1) {
                    int fd = accept(m_listen.fd, nullptr, nullptr);
                    script(fd);
                    close(fd);
                }
            });
        }
    }
    ~ScriptedServer()
    {
        if (m_thread.joinable()) {
            m_thread.join();
        }
        close(m_listen.fd);
    }
    std::string Name() const { return "rfc2217://127.0.0.1:" + std::to_string(m_listen.port); }

private:
    const TestSupport::LoopbackSocket m_listen = TestSupport::BindLoopback();
    std::thread m_thread;
};

void SendAll(int fd, const Bytes& bytes)
{
    ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

// What the client sent until `done` holds or the peer time is up.
struct Received {
    Bytes data;
    std::vector<Telnet::Command> commands;
};

void ReceiveUntil(int fd, Received& got, const std::function<bool(const Received&)>& done)
{
    Telnet::Decoder decoder;
    const auto deadline = Clock::now() + std::chrono::milliseconds(PEER_TIMEOUT_MS);
    while (!done(got) && Clock::now() < deadline) {
        pollfd pfd{fd, POLLIN, 0};
        uint8_t chunk[1024];
        if (poll(&pfd, 1, 100) != 1) {
            continue;
        }
        ssize_t n = recv(fd, chunk, sizeof(chunk), 0);
        if (n <= 0) {
            return;
        }
        size_t count = decoder.Feed(chunk, static_cast<size_t>(n), chunk, got.commands);
        got.data.insert(got.data.end(), chunk, chunk + count);
    }
}

size_t ComPortRequests(const Received& got)
{
    return static_cast<size_t>(std::count_if(got.commands.begin(), got.commands.end(), [](const Telnet::Command& c) {
        return c.kind == Telnet::Command::Kind::SUBNEGOTIATION && c.option == COM_PORT;
    }));
}

// Accepts COM-PORT and answers the five requests of one settings change,
// each through `answer` (empty: no answer); without `answer` refuses COM-PORT.
void ServeSettings(int fd, const std::function<Bytes(const Bytes&)>& answer)
{
    Bytes hello;
    Telnet::AppendOption(hello, answer ? Telnet::DO : Telnet::DONT, COM_PORT);
    SendAll(fd, hello);
    if (!answer) {
        return;
    }
    Received got;
    ReceiveUntil(fd, got, [](const Received& r) { return ComPortRequests(r) == 5; });
    Bytes out;
    for (const Telnet::Command& c : got.commands) {
        const Bytes reply = c.kind == Telnet::Command::Kind::SUBNEGOTIATION ? answer(c.payload) : Bytes{};
        if (!reply.empty()) {
            Telnet::AppendSubnegotiation(out, COM_PORT, reply);
        }
    }
    SendAll(fd, out);
}

Bytes Echo(Bytes request)
{
    request[0] = static_cast<uint8_t>(request[0] + SERVER_OFFSET);
    return request;
}

// Opens and applies the settings, as the receive engine does.
LineStatus OpenAt(LineDevice& line, const std::string& name, uint32_t rate)
{
    const LineSettings settings{name, rate};
    LineStatus status = line.Open(settings);
    return status.Ok() ? line.Apply(settings) : status;
}

// --- the settings of an RFC 2217 line ------------------------------------------------------

TEST(Rfc2217Settings, AServerThatRefusesOrMisanswersTheRateOrOffersNoLineControlIsRefused)
{
    const struct {
        std::function<Bytes(const Bytes&)> answer;  // null: COM-PORT is refused
        uint32_t rate;
        const char* reason;
        bool waitsTheWindow;
    } cases[] = {
        {[](const Bytes& r) {
             return r[0] == SET_BAUDRATE ? Bytes{SET_BAUDRATE + SERVER_OFFSET, 0, 1, 0xC2, 0} : Echo(r);
         },
         921600, "set the rate to 115200 instead of 921600", false},
        {[](const Bytes& r) { return r[0] == SET_BAUDRATE ? Bytes{} : Echo(r); }, 921600,
         "did not confirm the rate 921600 within 2500 ms", true},
        {nullptr, 115200, "does not offer RFC 2217 line control", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        ScriptedServer server([&c](int fd) {
            ServeSettings(fd, c.answer);
            Received rest;
            ReceiveUntil(fd, rest, [](const Received&) { return false; });  // until the client hangs up
        });
        Rfc2217Line line(ParsePortName(server.Name()));
        const auto start = Clock::now();
        const LineStatus status = OpenAt(line, server.Name(), c.rate);
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        EXPECT_FALSE(status.Ok());
        EXPECT_TRUE(Contains(status.reason, c.reason)) << status.reason;
        if (c.waitsTheWindow) {
            EXPECT_GE(waited, Rfc2217Line::ANSWER_WINDOW_MS);
            EXPECT_LT(waited, 2 * Rfc2217Line::ANSWER_WINDOW_MS) << "the wait is bounded by the window";
        }
    }
}

// --- a session on an RFC 2217 line ----------------------------------------------------------

// Reads until `count` data bytes are there, the line is lost or the peer time is up.
Bytes ReadData(LineDevice& line, size_t count, bool& lost)
{
    Bytes data;
    lost = false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(PEER_TIMEOUT_MS);
    while (data.size() < count && !lost && Clock::now() < deadline) {
        if (line.Wait(100) == Platform::SerialWait::LINE_LOST) {
            lost = true;
            break;
        }
        uint8_t chunk[256];
        Platform::SerialIoResult r = line.Read(chunk, sizeof(chunk));
        data.insert(data.end(), chunk, chunk + r.count);
        lost = r.lineLost;
    }
    return data;
}

// A reset sequence drives the board's DTR and RTS through the server, one
// confirmed change at a time (ser2net on a pseudo-terminal cannot set them).
// Then notices and unasked options come between data bytes.
TEST(Rfc2217Session, ModemLinesTravelOneConfirmedChangeAtATimeAndDataLosesNothingAroundTelnetCommands)
{
    std::vector<Bytes> seen;
    Received afterData;
    ScriptedServer server([&seen, &afterData](int fd) {
        ServeSettings(fd, Echo);
        for (size_t answered = 0; answered < 4; ++answered) {
            Received got;
            ReceiveUntil(fd, got, [](const Received& r) { return ComPortRequests(r) == 1; });
            ASSERT_EQ(ComPortRequests(got), 1u) << "a change is sent only after the one before was confirmed";
            seen.push_back(got.commands.back().payload);
            Bytes answer;
            Telnet::AppendSubnegotiation(answer, COM_PORT, Echo(seen.back()));
            SendAll(fd, answer);
        }
        // Data FF 01, a modem-state notice, DO of an unknown option twice, data 02 FF.
        Bytes stream{0xFF, 0xFF, 0x01};
        Telnet::AppendSubnegotiation(stream, COM_PORT, {7 + SERVER_OFFSET, 0x30});
        Telnet::AppendOption(stream, Telnet::DO, 0x18);
        Telnet::AppendOption(stream, Telnet::DO, 0x18);
        stream.insert(stream.end(), {0x02, 0xFF, 0xFF});
        SendAll(fd, stream);
        ReceiveUntil(fd, afterData, [](const Received& r) { return r.data.size() >= 2; });
        SendAll(fd, {0x03});
        ReceiveUntil(fd, afterData, [](const Received&) { return false; });
    });
    Rfc2217Line line(ParsePortName(server.Name()));
    ASSERT_TRUE(OpenAt(line, server.Name(), 115200).Ok());
    for (const auto& [modemLine, on] : {std::pair<ModemLine, bool>{ModemLine::DTR, false}, {ModemLine::DTR, true},
                                        {ModemLine::RTS, true}, {ModemLine::RTS, false}}) {
        const LineStatus status = line.SetModemLine(modemLine, on);
        EXPECT_TRUE(status.Ok()) << status.reason;
    }
    bool lost = false;
    EXPECT_EQ(ReadData(line, 4, lost), (Bytes{0xFF, 0x01, 0x02, 0xFF}));
    const Bytes payload{0xFF, 0x10};
    EXPECT_EQ(line.Write(payload.data(), payload.size(), 1000).count, payload.size());
    EXPECT_EQ(ReadData(line, 1, lost), (Bytes{0x03}));
    line.Close();
    EXPECT_FALSE(lost);
    EXPECT_EQ(seen, (std::vector<Bytes>{{SET_CONTROL, 9}, {SET_CONTROL, 8}, {SET_CONTROL, 11}, {SET_CONTROL, 12}}));
    // The server saw the data undoubled and one refusal of the unknown option.
    EXPECT_EQ(afterData.data, payload);
    EXPECT_EQ(std::count_if(afterData.commands.begin(), afterData.commands.end(),
                            [](const Telnet::Command& c) { return c.verb == Telnet::WONT && c.option == 0x18; }),
              1);
}

// --- finding the server --------------------------------------------------------------------

TEST(ServerLookUp, AResolverThatNeverAnswersEndsTheOpenWithinTheConnectDeadline)
{
    std::promise<void> release;
    std::shared_future<void> held = release.get_future().share();
    Platform::HostLookup hanging = [held](const std::string&, uint16_t, std::vector<Platform::ServerAddress>&,
                                          std::string& reason) {
        held.wait();
        reason = "released by the test";
        return EHOSTUNREACH;
    };
    RawSocketLine line(ParsePortName("socket://board-7.test:4001"), hanging);
    const auto start = Clock::now();
    const LineStatus status = line.Open({"socket://board-7.test:4001", 115200});
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    release.set_value();
    EXPECT_EQ(status.error, ETIMEDOUT);
    EXPECT_TRUE(Contains(status.reason, "board-7.test port 4001")) << status.reason;
    EXPECT_TRUE(Contains(status.reason, "no answer within 5 s")) << status.reason;
    EXPECT_GE(waited, ServerConnection::CONNECT_TIMEOUT_MS);
    EXPECT_LT(waited, 2 * ServerConnection::CONNECT_TIMEOUT_MS) << "the look-up counts into the deadline";
    EXPECT_FALSE(line.IsOpen());
}

}  // namespace
