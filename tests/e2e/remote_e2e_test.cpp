// Boards behind a serial server: tarnwick-sim's pseudo-terminal exported by
// ser2net on 127.0.0.1, the tool naming it rfc2217:// or socket://. Rate
// switches travel as RFC 2217 requests and the board still gets every image
// whole; a raw socket refuses a rate at once; a server that goes away ends
// the run at once.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "support/ser2net_process.h"

using namespace E2e;

namespace {

using Clock = std::chrono::steady_clock;
using Kind = Ser2netProcess::Kind;

const char* const LINE_LOST = "error: the serial line was lost.\n";
constexpr int LOST_LINE_END_LIMIT_MS = 1000;

const std::vector<PackageImage> VB27_PACKAGE{
    {"loader.bin", TYPE_LOADER, 0, 0, Pattern(8 * 1024 + 17, 1)},
    // 0xFF runs: every one is doubled on the way out.
    {"ones.bin", TYPE_FLASH, 0x10000, 0x20000, Bytes(100000, 0xFF)},
    {"app.bin", TYPE_FLASH, 0x40000, 0x80000, Pattern(400 * 1024 + 3, 2)},
};

class RemoteBoard : public E2eTest {
protected:
    void SetUp() override
    {
        E2eTest::SetUp();
        if (access(SER2NET_PATH, X_OK) != 0) {
            GTEST_SKIP() << "ser2net is not installed (scripts/setup installs it)";
        }
    }

    // A burn on a fresh board of that family behind ser2net. Once the output
    // holds stopAt the server goes away, and the run must end soon after.
    BoardRun ThroughServer(Kind kind, const std::string& family, const Bytes& package,
                           const std::vector<std::string>& toolExtra, const std::vector<std::string>& simExtra = {},
                           const std::string& stopAt = "")
    {
        BoardRun out;
        const std::string file = Given(family + ".fwpkg", package);
        SimProcess sim(SimArgs(Path(""), family, simExtra));
        EXPECT_TRUE(sim.Ok()) << "tarnwick-sim did not name its port";
        Ser2netProcess server(Path(""), sim.Port(), kind);
        EXPECT_TRUE(server.Ok()) << "ser2net did not listen";
        const SignalPlan stop{stopAt, 0, {}, LOST_LINE_END_LIMIT_MS, [&server] { server.Stop(); }};
        out.run = RunProgram(Tool(), ToolArgs("--burn", family, server.PortName(), file, toolExtra), RUN_LIMIT_MS,
                             {true, "", stopAt.empty() ? nullptr : &stop});
        server.Stop();
        CollectBoard(sim, Path(""), out);
        return out;
    }
};

// --- RFC 2217: the rate follows the board ------------------------------------------------------

TEST_F(RemoteBoard, Vb27SwitchesTo921600ThroughTheServerAndEveryImageArrivesWhole)
{
    for (const char* block : {"1024", "8192"}) {
        SCOPED_TRACE(block);
        const BoardRun b = ThroughServer(Kind::RFC2217, "vb27", BuildPackage(VB27_PACKAGE),
                                         {"-switchafterloader", "-b", "921600", std::string("-packagesize:") + block});
        EXPECT_EQ(b.run.exitCode, 0) << b.run.output;
        EXPECT_TRUE(Contains(b.run.output, BURNED)) << b.run.output;
        ExpectVb27Board(b.report, b.flash, VB27_PACKAGE);
        EXPECT_EQ(b.report.baudChanges, std::vector<uint64_t>{921600}) << b.report.text;
        // The server, told over the connection, really switched the board's line.
        EXPECT_EQ(b.report.lineRates, (std::vector<uint64_t>{115200, 921600})) << b.report.text;
        EXPECT_TRUE(Contains(b.report.text, "handshake at 115200 baud")) << b.report.text;
    }
}

TEST_F(RemoteBoard, TypeSixBurnsAt921600ThroughTheServerAndReturnsToTheRomRate)
{
    const std::vector<PackageImage> package{{"loader.bin", TYPE_LOADER, 0, 0, Pattern(10000, 1)},
                                            {"flash.bin", TYPESIX_FLASH, 0x20000, 0x40000, Pattern(200000, 2)},
                                            {"flash", TYPESIX_DIGEST, 0, 0, Sha256(Pattern(200000, 2))},
                                            {"app.bin", 20, 0, 0x100000, Bytes(70000, 0xFF)}};
    const BoardRun b = ThroughServer(Kind::RFC2217, "typesix", BuildPackage(package), {"-b", "921600"});
    EXPECT_EQ(b.run.exitCode, 0) << b.run.output;
    EXPECT_TRUE(Contains(b.run.output, BURNED)) << b.run.output;
    const std::vector<std::string> images = b.report.List("images");
    ASSERT_EQ(images.size(), 3u) << b.report.text;
    for (const auto& [item, sent] : {std::pair<size_t, size_t>{0, 0}, {1, 1}, {2, 3}}) {
        EXPECT_EQ(Field(images[item], "sha256"), Sha256Hex(package[sent].data)) << package[sent].name;
    }
    EXPECT_EQ(b.report.baudChanges, (std::vector<uint64_t>{921600, 115200})) << b.report.text;
    EXPECT_EQ(b.report.lineRates, (std::vector<uint64_t>{115200, 921600})) << b.report.text;
    EXPECT_TRUE(b.report.protocolErrors.empty()) << b.report.text;
}

// --- a raw socket keeps the server's rate -----------------------------------------------------

TEST_F(RemoteBoard, ARawSocketBurnsAtTheServersRateAndRefusesAnyOtherBeforeTheHandshake)
{
    const BoardRun fixed = ThroughServer(Kind::RAW, "vb27", BuildPackage(VB27_PACKAGE), {});
    EXPECT_EQ(fixed.run.exitCode, 0) << fixed.run.output;
    ExpectVb27Board(fixed.report, fixed.flash, VB27_PACKAGE);
    EXPECT_TRUE(fixed.report.baudChanges.empty()) << fixed.report.text;
    EXPECT_EQ(fixed.report.lineRates, std::vector<uint64_t>{115200}) << fixed.report.text;

    const auto start = Clock::now();
    const BoardRun other = ThroughServer(Kind::RAW, "vb27", BuildPackage(VB27_PACKAGE), {"-b", "921600"});
    EXPECT_NE(other.run.exitCode, 0) << other.run.output;
    EXPECT_TRUE(Contains(other.run.output, "cannot run at 921600 baud: a raw socket cannot change the line speed"))
        << other.run.output;
    EXPECT_TRUE(other.report.List("images").empty()) << other.report.text;
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10)) << "refused at once, not after the handshake window";
}

// --- the server goes away --------------------------------------------------------------------

TEST_F(RemoteBoard, AServerStoppedInTheMiddleOfAnImageEndsTheRunAtOnce)
{
    // Paced, so the stop comes while app.bin is on its way.
    const RunResult run = ThroughServer(Kind::RFC2217, "vb27", BuildPackage({VB27_PACKAGE[0], VB27_PACKAGE[2]}), {},
                                        {"--line-baud", "115200"}, "Start download: app.bin")
                              .run;
    ASSERT_TRUE(run.signalled) << "never reached app.bin:\n" << run.output;
    EXPECT_NE(run.exitCode, -1) << "still running " << LOST_LINE_END_LIMIT_MS << " ms after the stop\n"
                                << run.output;
    EXPECT_NE(run.exitCode, 0) << run.output;
    EXPECT_EQ(CountOf(run.output, LINE_LOST), 1u) << run.output;
    EXPECT_TRUE(Contains(run.output, "\nBurned failed.\n")) << run.output;
}

}  // namespace
