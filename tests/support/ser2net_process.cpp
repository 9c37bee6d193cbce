#include "support/ser2net_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/child_process.h"
#include "support/loopback_socket.h"

namespace TestSupport {

namespace {

constexpr int START_LIMIT_MS = 10000;
constexpr int LISTEN_STATE = 0x0A;  // TCP_LISTEN in /proc/net/tcp

// Whether 127.0.0.1:port is listening, without connecting (a connection would
// open the board's port).
bool Listening(uint16_t port)
{
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);
    char wanted[32];
    std::snprintf(wanted, sizeof(wanted), "0100007F:%04X", port);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote;
        int state = 0;
        fields >> slot >> local >> remote >> std::hex >> state;
        if (local == wanted && state == LISTEN_STATE) {
            return true;
        }
    }
    return false;
}

}  // namespace

Ser2netProcess::Ser2netProcess(const std::string& dir, const std::string& device, Kind kind) : m_kind(kind)
{
    // A port nobody uses right now: the kernel's choice for a socket bound to 0.
    const LoopbackSocket bound = BindLoopback();
    close(bound.fd);
    m_port = bound.port;
    const std::string config = dir + "ser2net.yaml";
    {
        std::ofstream out(config);
        out << "%YAML 1.1\n---\n"
            << "connection: &board\n"
            << "  accepter: " << (kind == Kind::RFC2217 ? "telnet(rfc2217),tcp," : "tcp,") << "127.0.0.1," << m_port
            << "\n"
            << "  connector: serialdev," << device << ",115200n81,local\n"
            << "  options:\n"
            << "    kickolduser: true\n"
            // The board's answers leave at once, not after a quiet time on the line.
            << "    chardelay: false\n";
    }
    // -u: no UUCP lock files; -P: the pid file in the test's directory.
    m_pid = Spawn({SER2NET_PATH, "-n", "-d", "-u", "-c", config, "-P", dir + "ser2net.pid"}, -1, true);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(START_LIMIT_MS);
    while (m_pid > 0 && !(m_listening = Listening(m_port)) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

Ser2netProcess::~Ser2netProcess()
{
    Stop();
}

std::string Ser2netProcess::PortName() const
{
    return std::string(m_kind == Kind::RFC2217 ? "rfc2217://" : "socket://") + "127.0.0.1:" + std::to_string(m_port);
}

void Ser2netProcess::Stop()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}

}  // namespace TestSupport
