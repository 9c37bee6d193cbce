// A rate the line will not take ends a Vb27 burn at once with a message that
// names the rate and the port: before the rate is offered to the board when
// the line can tell in advance, right after the board switched otherwise.
// The board is tarnwick-sim; the line is a serial port that refuses one rate.
#include <gtest/gtest.h>

#include "device/burn_vb27_chip.h"
#include "pty_board.h"
#include "support/sim_launcher.h"
#include "transport/line_transport.h"
#include "transport/serial_line_device.h"

namespace {

constexpr uint32_t REFUSED_RATE = 921600;

class RefusingSerialLine : public SerialLineDevice {
public:
    explicit RefusingSerialLine(bool tellsInAdvance) : m_tellsInAdvance(tellsInAdvance) {}

    LineStatus CheckRate(uint32_t baudRate) const override
    {
        return m_tellsInAdvance && baudRate == REFUSED_RATE ? Refusal() : SerialLineDevice::CheckRate(baudRate);
    }
    LineStatus Apply(const LineSettings& settings) override
    {
        return settings.baudRate == REFUSED_RATE ? Refusal() : SerialLineDevice::Apply(settings);
    }

private:
    static LineStatus Refusal() { return LineStatus::Fail("the test line refuses it"); }

    bool m_tellsInAdvance;
};

struct RefusalCase {
    const char* name;
    bool tellsInAdvance;
    bool switchAfterLoader;
    size_t imagesReceived;  // by the board before the run ended
    bool boardSwitched;     // the board took the rate, the line did not
};

class RefusedRate : public ::testing::TestWithParam<RefusalCase> {
protected:
    TempDir dir;
    PrintCapture messages;
};

TEST_P(RefusedRate, EndsTheBurnAtOnceNamingRateAndPort)
{
    if (access(SimPath().c_str(), X_OK) != 0) {
        GTEST_SKIP() << "tarnwick-sim is not built at " << SimPath();
    }
    const RefusalCase& c = GetParam();
    const std::string package = dir.File("app.fwpkg");
    ASSERT_TRUE(WriteFile(package, BuildPackage({{"loader.bin", 0, 0, 0, Pattern(3000, 1)},
                                                 {"app.bin", 1, 0x10000, 0x10000, Pattern(5000, 2)}})));
    SimProcess sim({"--family", "vb27", "--report", dir.File("report.json"), "--flash", dir.File("flash.bin")});
    ASSERT_TRUE(sim.Ok());
    {
        BurnVb27ChipSp::BurnVb27Chip chip;
        chip.SetTargetBaudRate(REFUSED_RATE);
        chip.SetSwitchAfterLoader(c.switchAfterLoader);
        chip.AttachLine(std::make_unique<LineTransport>(std::make_unique<RefusingSerialLine>(c.tellsInAdvance)));
        ASSERT_EQ(chip.OpenSerialPort(sim.Port().c_str(), 115200, 0, 0), 1);
        EXPECT_FALSE(chip.DownloadAllinoneBin(package.c_str(), 0));
    }
    sim.Stop(2000);
    const std::string naming = "error: the line " + sim.Port() + " cannot run at 921600 baud: ";
    EXPECT_EQ(messages.CountLine(naming + "the test line refuses it.\n"), 1) << messages.Text();
    EXPECT_EQ(messages.Text().find("timeout"), std::string::npos) << "no wait ran out: " << messages.Text();
    const SimReport report = ReadSimReport(dir.File("report.json"));
    EXPECT_EQ(report.List("images").size(), c.imagesReceived) << report.text;
    EXPECT_EQ(!report.baudChanges.empty() || report.text.find("921600") != std::string::npos, c.boardSwitched)
        << report.text;
}

// A handshake rate known in advance to be refused: RemoteBoard's raw socket (e2e).
const RefusalCase REFUSAL_CASES[] = {
    {"HandshakeRateRefusedAfterTheBoardAgreed", false, false, 0, true},
    {"SwitchAfterLoaderKnownInAdvanceSendsNoSwitchFrame", true, true, 1, false},
    {"SwitchAfterLoaderRefusedAfterTheBoardSwitched", false, true, 1, true},
};

INSTANTIATE_TEST_SUITE_P(Vb27, RefusedRate, ::testing::ValuesIn(REFUSAL_CASES),
                         [](const ::testing::TestParamInfo<RefusalCase>& p) { return std::string(p.param.name); });

}  // namespace
