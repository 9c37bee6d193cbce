// Reading a port name once: device paths and COM names pass untouched (the
// open judges them); a network name is checked for its form, and a malformed
// one says what is wrong with it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transport/port_name.h"
#include "support/test_files.h"

namespace {

using TestSupport::Contains;

struct Server {
    const char* text;
    PortKind kind;
    const char* host;  // empty: a malformed name, which names no server
    uint16_t port;
    const char* said;  // what Server() shows, or part of what the refusal says
};

TEST(PortNames, DeviceNamesPassAsTheyStandNetworkNamesGiveKindHostAndPortOrSayWhatIsWrong)
{
    // Whatever they look like: the open judges them.
    for (const char* text : {"/dev/ttyUSB0", "COM3", "\\\\.\\COM12", "", "/dev/serial/by-id/usb-FTDI:x-if00",
                             "rfc2217:/host:4001", "RFC2217://host:4001", "tcp://host:4001"}) {
        const PortName name = ParsePortName(text);
        EXPECT_EQ(name.kind, PortKind::DEVICE) << text;
        EXPECT_TRUE(name.WellFormed()) << text;
        EXPECT_EQ(name.text, text);
        EXPECT_EQ(name.host, "") << text;
    }
    const std::vector<Server> cases{
        {"rfc2217://rack-pi-3:4001", PortKind::RFC2217, "rack-pi-3", 4001, "rack-pi-3:4001"},
        {"socket://10.0.0.2:1", PortKind::RAW_SOCKET, "10.0.0.2", 1, "10.0.0.2:1"},
        {"rfc2217://[::1]:65535", PortKind::RFC2217, "::1", 65535, "[::1]:65535"},
        {"rfc2217://[fe80::1%eth0]:4001", PortKind::RFC2217, "fe80::1%eth0", 4001, "[fe80::1%eth0]:4001"},
        {"rfc2217://[::ffff:10.0.0.2]:7", PortKind::RFC2217, "::ffff:10.0.0.2", 7, "[::ffff:10.0.0.2]:7"},
        {"socket://board_7.lab.example:04001", PortKind::RAW_SOCKET, "board_7.lab.example", 4001,
         "board_7.lab.example:4001"},
        {"rfc2217://[::1", PortKind::RFC2217, "", 0, "no closing \"]\""},
        {"rfc2217://[::1]", PortKind::RFC2217, "", 0, "no port after the host"},
        {"rfc2217://[::1]4001", PortKind::RFC2217, "", 0, "no port after the host"},
        {"rfc2217://[]:4001", PortKind::RFC2217, "", 0, "no host before the port"},
        {"rfc2217://[board-3]:4001", PortKind::RFC2217, "", 0, "[board-3] is not an IPv6 address"},
        {"rfc2217://::1:4001", PortKind::RFC2217, "", 0, "must stand in brackets"},
        {"socket://:4001", PortKind::RAW_SOCKET, "", 0, "no host before the port"},
        {"socket://", PortKind::RAW_SOCKET, "", 0, "no port after the host (socket://HOST:PORT)"},
        {"rfc2217://host:", PortKind::RFC2217, "", 0, "from 1 to 65535, not \"\""},
        {"rfc2217://host:0", PortKind::RFC2217, "", 0, "from 1 to 65535, not \"0\""},
        {"rfc2217://host:65536", PortKind::RFC2217, "", 0, "from 1 to 65535, not \"65536\""},
        {"rfc2217://host:99999999999999999999", PortKind::RFC2217, "", 0, "from 1 to 65535"},
        {"socket://host:4001/", PortKind::RAW_SOCKET, "", 0, "not \"4001/\""},
        {"socket://ho st:4001", PortKind::RAW_SOCKET, "", 0, "\"ho st\" is not a host name or an IPv4 address"},
    };
    for (const Server& c : cases) {
        SCOPED_TRACE(c.text);
        const PortName name = ParsePortName(c.text);
        EXPECT_EQ(name.kind, c.kind);
        EXPECT_EQ(name.host, c.host);
        EXPECT_EQ(name.port, c.port);
        EXPECT_EQ(name.text, c.text);
        if (*c.host != '\0') {
            EXPECT_TRUE(name.WellFormed()) << name.problem;
            EXPECT_EQ(name.Server(), c.said);
        } else {
            EXPECT_FALSE(name.WellFormed());
            EXPECT_TRUE(Contains(name.problem, c.said)) << name.problem;
            EXPECT_EQ(MalformedPortNameMessage(name),
                      std::string("Invalid network port name \"") + c.text + "\": " + name.problem);
        }
    }
}

}  // namespace
