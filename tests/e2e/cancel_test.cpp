// Cancel from outside: SIGINT or SIGTERM during a run ends the running wait
// with "User Cancelled!", the job fails, the port is let go and the process
// exits with a failure code soon after; a second signal ends it at once.
//
// The bounds are "must end" checks for a loaded machine, not measurements.
#include <gtest/gtest.h>

#include <signal.h>

#include <string>
#include <vector>

#include "e2e_support.h"

using namespace E2e;

namespace {

// Printed by both families as the wait for the board begins.
constexpr const char* WAITING_FOR_BOARD = "Please reset the device, the waiting time is about 30 seconds.\n";
// Until the awaited text appears; then the run must end within END_LIMIT_MS.
constexpr int START_LIMIT_MS = 60000;
constexpr int END_LIMIT_MS = 5000;

struct CancelCase {
    const char* name;
    const char* family;
    std::vector<std::string> simOptions;
    std::vector<PackageEntry> package;
    SignalPlan plan;
    bool secondSignal;         // the process ends by the signal, the job does not wind down
    const char* neverPrinted;  // beside any "successfully" of the whole burn
};

const std::vector<CancelCase> CASES = {
    // Let a few handshake frames go out first.
    {"SigintDuringTheVb27Handshake", "vb27", {"--silent"},
     {{"loader.bin", TYPE_LOADER, 0, 0, Pattern(4096, 1)}, {"app.bin", TYPE_FLASH, 0x10000, 0x1000, Pattern(512, 2)}},
     {WAITING_FOR_BOARD, 300, {SIGINT}, END_LIMIT_MS}, false, "Burned successfully"},
    // A slow line: the image takes far longer than the test waits.
    {"SigtermInTheMiddleOfAnImage", "vb27", {"--line-baud", "115200"},
     {{"loader.bin", TYPE_LOADER, 0, 0, Pattern(2048, 3)},
      {"big.bin", TYPE_FLASH, 0x100000, 0x80000, Pattern(400 * 1024, 4)}},
     {"Start download: big.bin.", 500, {SIGTERM}, END_LIMIT_MS}, false, "downloaded: big.bin successfully"},
    {"SigintWhileWaitingForATypeSixRom", "typesix", {"--silent"},
     {{"loader.bin", 0, 0, 0, Pattern(3000, 5)}, {"flash.bin", TYPESIX_FLASH, 0x1000, 0x2000, Pattern(3000, 6)}},
     {WAITING_FOR_BOARD, 300, {SIGINT}, END_LIMIT_MS}, false, "ready failed"},
    // Two different signals cannot merge into one while pending; whichever is
    // delivered second ends the process by its default action.
    {"ASecondSignalEndsTheProcessAtOnce", "vb27", {"--silent"}, {{"loader.bin", TYPE_LOADER, 0, 0, Pattern(4096, 7)}},
     {WAITING_FOR_BOARD, 0, {SIGTERM, SIGINT}, END_LIMIT_MS}, true, "Burned failed."},
};

class CancelBySignal : public ::testing::TestWithParam<CancelCase> {
protected:
    void SetUp() override { ASSERT_TRUE(m_install.Ready()) << "build tarnwickcmd first: " << TARNWICK_BIN_DIR; }
    Installation m_install;
};

TEST_P(CancelBySignal, TheRunEndsAsAFailureAndLetsThePortGo)
{
    const CancelCase& c = GetParam();
    const std::string package = m_install.Path("cancel.fwpkg");
    ASSERT_TRUE(WriteFile(package, BuildPackage(c.package)));
    Simulator sim(m_install.Dir(), c.family, c.simOptions);
    ASSERT_TRUE(sim.Started());
    const RunResult run = m_install.Run(ToolArgs("--burn", c.family, sim.Port(), package), START_LIMIT_MS, &c.plan);
    const SimReport report = sim.Stop();

    ASSERT_TRUE(run.signalled) << "never reached: " << c.plan.after << "\n" << run.output;
    EXPECT_FALSE(Contains(run.output, c.neverPrinted)) << run.output;
    if (c.secondSignal) {
        EXPECT_TRUE(run.signal == SIGINT || run.signal == SIGTERM) << "the second signal did not end it:\n" << run.output;
        return;
    }
    ASSERT_GE(run.exitCode, 0) << "still running after the signal:\n" << run.output;
    EXPECT_NE(run.exitCode, 0) << run.output;
    EXPECT_TRUE(Contains(run.output, "\nUser Cancelled!\n")) << run.output;
    EXPECT_TRUE(Contains(run.output, "\nBurned failed.\n")) << run.output;
    EXPECT_FALSE(Contains(run.output, "Burned successfully")) << run.output;
    EXPECT_TRUE(c.simOptions[0] != "--silent" || report.images.empty()) << report.text;
    for (const SimImage& image : report.images) {
        EXPECT_NE(image.name, c.package.back().name) << report.text;
    }
    if (std::string(c.family) == "vb27") {
        EXPECT_TRUE(report.HasEvent("the tool closed the line")) << report.text;
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, CancelBySignal, ::testing::ValuesIn(CASES),
                         [](const ::testing::TestParamInfo<CancelCase>& p) { return std::string(p.param.name); });

}  // namespace
