// A network port name from burn.config makes the run a socket run with the
// server's host and port; a plain name after -m serial undoes it. One after
// -m serial is burnt through end to end (tests/e2e/remote_e2e_test.cpp), a
// malformed one refused there too (tests/e2e/early_checks_test.cpp).
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
        const std::string path = m_dir.Path() + "/burn.config";
        ASSERT_TRUE(TestSupport::WriteText(path, "serialPort=" + configPort + "\n"));
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

// The port the run opens is the one its job's line factory reads.
TEST_F(NetworkPort, APlainCommandLineNameReplacesAConfiguredNetworkOne)
{
    Load("rfc2217://[::1]:4001", {});
    EXPECT_EQ(m_context.GetPortName().kind, PortKind::RFC2217);
    EXPECT_EQ(m_context.GetPortName().Server(), "[::1]:4001");

    Load("rfc2217://[::1]:4001", {"-m", "serial", "/dev/ttyUSB0"});
    EXPECT_EQ(m_context.GetPortName().kind, PortKind::DEVICE);
    EXPECT_EQ(m_context.GetPortName().text, "/dev/ttyUSB0");
    EXPECT_EQ(m_context.GetPortName().host, "");
}

}  // namespace
