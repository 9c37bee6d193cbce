// ser2net (the Debian package's /usr/sbin/ser2net) in the foreground, on a
// free port of 127.0.0.1, exporting one pseudo-terminal with the connection
// options docs/remote.md recommends; its configuration, pid file and lock
// handling are the test's own, never the system's.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace TestSupport {

constexpr const char* SER2NET_PATH = "/usr/sbin/ser2net";

class Ser2netProcess {
public:
    enum class Kind { RFC2217, RAW };

    // Writes the configuration into dir and starts the server; Ok once it listens.
    Ser2netProcess(const std::string& dir, const std::string& device, Kind kind);
    ~Ser2netProcess();
    Ser2netProcess(const Ser2netProcess&) = delete;
    Ser2netProcess& operator=(const Ser2netProcess&) = delete;

    bool Ok() const { return m_listening; }
    // rfc2217://127.0.0.1:PORT or socket://127.0.0.1:PORT
    std::string PortName() const;
    // Ends the server (and with it every connection it serves).
    void Stop();

private:
    pid_t m_pid = -1;
    uint16_t m_port = 0;
    Kind m_kind;
    bool m_listening = false;
};

}  // namespace TestSupport
