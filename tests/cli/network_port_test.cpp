// A network port name, from burn.config or from -m serial, makes the run a
// socket run with the server's host and port; a later plain name undoes it,
// and a malformed one fails the parameter check before anything is opened.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/front_end.h"
#include "settings/burn_context.h"
#include "support/test_files.h"

namespace {

using BurnInfo::BurnContext;

class NetworkPort : public ::testing::Test {
protected:
    // burn.config with the given port, then the options after "--burn".
    void Load(const std::string& configPort, std::vector<std::string> options)
    {
        const std::string text = "serialPort=" + configPort + "\n";
        const std::string path = m_dir.Path() + "/burn.config";
        ASSERT_TRUE(TestSupport::WriteFile(path, TestSupport::Bytes(text.begin(), text.end())));
        m_context.SetConfigPath(path);
        ASSERT_TRUE(m_context.LoadBurnConfig());
        options.insert(options.begin(), {"tarnwickcmd", "--burn"});
        std::vector<char*> argv;
        for (std::string& o : options) {
            argv.push_back(o.data());
        }
        testing::internal::CaptureStdout();
        EXPECT_TRUE(FrontEnd::ParseExtraParam(static_cast<int>(argv.size()), argv.data(), &m_context));
        testing::internal::GetCapturedStdout();
    }

    TestSupport::TempDir m_dir{"tarnwick-netport"};
    BurnContext m_context;
};

TEST_F(NetworkPort, ANetworkNameInBurnConfigSetsTheSerialServer)
{
    Load("rfc2217://[::1]:4001", {});
    EXPECT_TRUE(m_context.IsSocket());
    EXPECT_EQ(m_context.GetSerialServerIp(), "::1");
    EXPECT_EQ(m_context.GetSerialServerPort(), 4001);
}

TEST_F(NetworkPort, TheCommandLineNameReplacesTheConfiguredOneEitherWay)
{
    Load("rfc2217://[::1]:4001", {"-m", "serial", "/dev/ttyUSB0"});
    EXPECT_FALSE(m_context.IsSocket());
    EXPECT_EQ(m_context.GetSerialServerIp(), "");
    EXPECT_EQ(m_context.GetSerialServerPort(), 0);

    Load("/dev/ttyUSB0", {"-m", "serial", "socket://board-3.lab:7000"});
    EXPECT_TRUE(m_context.IsSocket());
    EXPECT_EQ(m_context.GetSerialPort(), "socket://board-3.lab:7000");
    EXPECT_EQ(m_context.GetSerialServerIp(), "board-3.lab");
    EXPECT_EQ(m_context.GetSerialServerPort(), 7000);
}

TEST_F(NetworkPort, AMalformedNetworkNameIsASocketNameWithoutAServer)
{
    Load("/dev/ttyUSB0", {"-n", "vb27", "-f", "app.fwpkg", "-m", "serial", "rfc2217://host-without-port"});
    EXPECT_TRUE(m_context.IsSocket());
    EXPECT_EQ(m_context.GetSerialServerIp(), "");
    EXPECT_EQ(m_context.GetSerialServerPort(), 0);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(m_context.CheckBurnParameters());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "error: Invalid network port name \"rfc2217://host-without-port\": no port after the host "
              "(rfc2217://HOST:PORT)\n");
}

TEST_F(NetworkPort, TheServerSettersRewriteThePortNameTheRunOpens)
{
    Load("rfc2217://[::1]:4001", {});
    m_context.SetSerialServerPort(4002);
    EXPECT_EQ(m_context.GetSerialPort(), "rfc2217://[::1]:4002");
    m_context.SetSerialServerIp("board-3.lab");
    EXPECT_EQ(m_context.GetSerialPort(), "rfc2217://board-3.lab:4002");
    EXPECT_EQ(m_context.GetPortName().Server(), "board-3.lab:4002");

    m_context.SetSocket(false);
    EXPECT_FALSE(m_context.IsSocket());
    EXPECT_EQ(m_context.GetSerialServerIp(), "");

    Load("/dev/ttyUSB0", {});
    m_context.SetSocket(true);
    EXPECT_TRUE(m_context.IsSocket());
    m_context.SetSerialServerIp("10.0.0.2");
    EXPECT_FALSE(m_context.GetPortName().WellFormed()) << "no port yet";
    m_context.SetSerialServerPort(7000);
    EXPECT_EQ(m_context.GetSerialPort(), "socket://10.0.0.2:7000");
    EXPECT_TRUE(m_context.GetPortName().WellFormed());
}

}  // namespace
