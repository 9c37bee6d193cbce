// Many boards at once. With the real tool and simulated boards: eight
// TypeSix boards through tarnwick-station with one breaking off, and a board
// that appears only after its first attempt. With a stand-in tool: a child
// that ignores SIGTERM, two hundred rounds of --repeat, rounds in which no
// board came, Ctrl-C during retries, port names and a dashboard address it
// cannot use (with the address in use that the dashboard cannot listen on),
// and a fixture chosen by its USB adapters, one board of it left with an
// unconfirmed image.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "station_support.h"

using namespace E2e;

namespace {

namespace fs = std::filesystem;

constexpr size_t BOARDS = 8;

// One board breaks off in the middle of flash.bin; the eight tools unpack the one package at once.
TEST_F(StationTest, TheStationBurnsEightTypeSixBoardsOfOnePackageAndNamesTheOneThatFailed)
{
    const std::vector<PackageImage> package{{"loader.bin", TYPE_LOADER, 0, 0, Pattern(30000, 1)},
                                            {"flash.bin", TYPESIX_FLASH, 0x20000, 0x40000, Pattern(150000, 2)},
                                            {"emmc.img", TYPESIX_EMMC, 0x400, 0x20000, Pattern(70000, 3)}};
    const std::string file = Given("fw.fwpkg", BuildPackage(package));
    const size_t faulty = 5;
    std::vector<std::string> args = WithOutputs({"--burn", "-n", "typesix", "-f", file});
    const auto boards = StartBoards(BOARDS, &args, "typesix", {}, faulty, {"--close-after", "60000"});
    const RunResult run = RunProgram(Station(), args, RUN_LIMIT_MS);
    EXPECT_EQ(run.exitCode, 1) << run.output;

    const std::string failedPort = boards[faulty]->Port();
    const nlohmann::json summary = Summary();
    ASSERT_EQ(summary["boards"].size(), BOARDS) << run.output;
    const nlohmann::json totals{{"boards", BOARDS}, {"failed", 1}};
    EXPECT_EQ(Pick(summary["totals"], totals), totals);
    for (const nlohmann::json& board : summary["boards"]) {
        const bool isFaulty = board.value("port", "") == failedPort;
        EXPECT_EQ(board.value("result", ""), isFaulty ? "failed" : "ok") << board.dump();
        EXPECT_EQ(board["report"].value("port", ""), board.value("port", ""));
        EXPECT_EQ(board["report"].value("images", nlohmann::json::array()).size(), isFaulty ? 2 : package.size());
        if (isFaulty) {
            EXPECT_FALSE(board.value("reason", "").empty());
            EXPECT_TRUE(std::filesystem::exists(board.value("log", ""))) << board.dump();
        }
    }
    // Not a terminal: plain lines per board event, the failure with its log, then the table.
    ExpectHolds(run.output, {failedPort + " FAILED: ", "8 boards, 7 succeeded, 1 failed\n"});
    for (size_t i = 0; i < boards.size(); ++i) {
        EXPECT_EQ(FlashHolds(Flash(boards, i), 0x20000, package[1].data), i != faulty) << "board " << i;
    }
    // Whoever looks in the extract directory finds the package's images, and no leftovers.
    for (const PackageImage& image : package) {
        EXPECT_EQ(ReadFile(Path("fw_extract/") + image.name), image.data) << image.name;
    }
    for (const auto& entry : std::filesystem::directory_iterator(Path("fw_extract"))) {
        EXPECT_EQ(entry.path().string().find(".part-"), std::string::npos) << entry.path();
    }
}

TEST_F(StationTest, ABoardThatAppearsAfterItsFirstAttemptIsBurnedByARetry)
{
    const std::vector<PackageImage> package = SmallPackage();
    const std::string file = Given("fw.fwpkg", BuildPackage(package));
    const std::string port = Path("late-board");  // nothing there yet
    ChildProcess station(Station(), WithOutputs({"--burn", "--port", port, "--retries", "3", "--retry-delay", "2",
                                                 "-n", "vb27", "-f", file}));
    ASSERT_TRUE(station.WaitForOutput("again in 2 s", OUTPUT_LIMIT_MS)) << station.Output();
    // The operator plugs the board in.
    const auto boards = StartBoards(1, nullptr, "vb27", {"--link", port});
    ASSERT_EQ(station.Wait(STATION_LIMIT_MS), 0) << station.Output();

    const nlohmann::json summary = Summary();
    ASSERT_EQ(summary["boards"].size(), 1u) << summary.dump(2);
    const nlohmann::json& board = summary["boards"][0];
    EXPECT_EQ(board["result"], "ok");
    const nlohmann::json& attempts = board["attempts"];
    ASSERT_GE(attempts.size(), 2u);
    EXPECT_EQ(attempts[0]["result"], "failed");
    EXPECT_EQ(attempts[0]["exitCode"], 3);  // the port could not be opened
    EXPECT_TRUE(Contains(attempts[0]["reason"].get<std::string>(), port)) << attempts[0].dump();
    EXPECT_EQ(attempts.back()["result"], "ok");
    EXPECT_EQ(summary["totals"]["failed"], 0);  // failed only when the last attempt failed
    // The board's one log holds every attempt, each introduced with the reason of the one before.
    ExpectHolds(ReadText(board["log"].get<std::string>()),
                {"--- tarnwick-station: attempt 2 of 4 (attempt 1 failed: ", "Burned successfully."});
    EXPECT_TRUE(FlashHolds(Flash(boards, 0), 0x10000, package[1].data));
}

// The station itself, with a stand-in for the tool that does exactly what a test needs.
class StandInStation : public StationTest {
protected:
    static std::string Tail(const std::string& output)
    {
        constexpr size_t SHOWN = 2000;
        return output.size() > SHOWN ? output.substr(output.size() - SHOWN) : output;
    }

    // Each run of the stand-in adds a line (appends of a line are atomic); $n is its number on a port
    // served one board at a time.
    std::string Count() const { return "echo run >> " + Path("count") + "; n=$(wc -l < " + Path("count") + ")\n"; }
};

// The stuck board's child is killed by SIGKILL; then Ctrl-C ends both boards' retries at once.
TEST_F(StandInStation, AChildThatIgnoresSigtermIsKilledFiveSecondsLaterAndCtrlCEndsRetriesAtOnce)
{
    StandIn(Count() + R"(case "$port" in
  *stuck*) trap '' TERM INT; event '{"event":"waiting"}'; while :; do sleep 1; done ;;
  *) event '{"event":"imageStarted","name":"app.bin","type":1,"bytes":10}'; event '{"event":"imageEnded","ok":false}'
     report 4 "Ack receiving timeout." false '[{"name":"app.bin"}]'; exit 4 ;;
esac)");
    ChildProcess station(Station(), WithOutputs({"--burn", "--port", "/dev/stuck", "--port", "/dev/a", "--retries", "5",
                                                 "--retry-delay", "60", "--board-timeout", "2"}));
    ASSERT_TRUE(station.WaitForOutput("/dev/a FAILED", OUTPUT_LIMIT_MS)) << station.Output();
    ASSERT_TRUE(station.WaitForOutput("/dev/stuck FAILED", OUTPUT_LIMIT_MS)) << station.Output();
    station.Signal(SIGINT);
    // Well before the next attempt would have started.
    ASSERT_EQ(station.Wait(30000), 2) << station.Output();
    ExpectHolds(station.Output(),
                {"/dev/stuck no end within the board time-out of 2 s: SIGTERM", "/dev/stuck SIGKILL"});
    const nlohmann::json summary = Summary();
    ASSERT_EQ(summary["boards"].size(), 2u) << summary.dump(2);
    const nlohmann::json& stuck = summary["boards"][0];
    const nlohmann::json& other = summary["boards"][1];
    EXPECT_EQ(stuck["result"], "failed");
    EXPECT_EQ(stuck["reason"], "no end within the board time-out of 2 s; ended by SIGKILL");
    EXPECT_EQ(other["reason"], "Ack receiving timeout.");
    // SIGTERM went unanswered; SIGKILL came five seconds after it.
    EXPECT_GE(stuck["seconds"].get<double>(), 2.0 + 5.0);
    // Never held up by the stuck one.
    EXPECT_LT(other["endSeconds"].get<double>(), stuck["endSeconds"].get<double>() - 5.0);
    EXPECT_EQ(ReadText(Path("count")), "run\nrun\n");  // one per board, none retried
}

TEST_F(StandInStation, TwoHundredRoundsOfRepeatKeepCountsNotBoardsAndMemoryStaysFlat)
{
    constexpr int ROUNDS = 200;
    constexpr int EARLY_ROUND = 20;
    // Reports of a few KiB, as a package of many images gives: 180 boards kept whole would show.
    nlohmann::json images = nlohmann::json::array();
    for (int i = 0; i < 40; ++i) {
        images.push_back({{"name", "image-" + std::to_string(i) + ".bin"}, {"type", 1}, {"address", 65536},
                          {"bytes", 1000}, {"result", "ok"}});
    }
    // Runs 1-200: a board each; 201-203: nobody answers the handshake; 204: Ctrl-C while waiting.
    StandIn(Count() + R"(trap 'report 4 "User Cancelled!" true "[]"; exit 4' INT
event '{"event":"waiting"}'
case "$n" in
  201|202|203) report 4 "Shakehand failed, The board does not respond." false '[]'; exit 4 ;;
  204) kill -INT $PPID; while :; do sleep 0.1; done ;;
esac
event '{"event":"imageStarted","name":"app.bin","type":1,"bytes":1000}'
event '{"event":"imageEnded","ok":true}'
report 0 "" false ')" + images.dump() + R"('
if [ "$n" = )" + std::to_string(EARLY_ROUND) + R"( ] || [ "$n" = )" + std::to_string(ROUNDS) + R"( ]; then
  grep VmRSS /proc/$PPID/status | tr -s ' ' | cut -d' ' -f2 >> )" + Path("rss") + R"(
fi
exit 0)");
    ChildProcess station(Station(), WithOutputs({"--burn", "--repeat", "--port", "/dev/socket-1", "--retries", "2",
                                                 "--retry-delay", "0.2", "--http", "127.0.0.1:0"}));
    ASSERT_EQ(station.Wait(STATION_LIMIT_MS), 0) << Tail(station.Output());
    EXPECT_EQ(CountOf(station.Output(), "no board came; waiting for a board"), 3u) << Tail(station.Output());
    // The last board stands for them all. An empty socket is waited on again, not retried as a failed
    // board, and the cancelled wait was no board either; logs are numbered per round, boards only.
    const nlohmann::json port{{"boards", ROUNDS}, {"succeeded", ROUNDS}, {"failed", 0}, {"emptyRounds", 4}};
    const nlohmann::json last{{"round", ROUNDS}, {"log", Path("run/dev_socket-1-200.log")}};
    const nlohmann::json counts{{"ports", {{"/dev/socket-1", port}}}, {"boards", nlohmann::json::array({last})}};
    EXPECT_EQ(Pick(Summary(), counts), counts);
    EXPECT_TRUE(fs::exists(Path("run/dev_socket-1-201.log")));  // the empty rounds and the cancelled wait
    EXPECT_FALSE(fs::exists(Path("run/dev_socket-1-202.log")));
    ExpectHolds(Tail(station.Output()), {"  200 boards, 200 ok, 0 failed\n", "4 rounds with no board, not counted\n"});

    std::ifstream rss(Path("rss"));
    long early = 0;
    long late = 0;
    ASSERT_TRUE(rss >> early >> late);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // 180 boards kept whole (report, attempts, log paths) would be several hundred KiB. A sanitizer's
    // allocator keeps freed memory apart for a while, so there only the counts above tell.
    EXPECT_LT(late - early, 64) << "station RSS: " << early << " KiB at round " << EARLY_ROUND << ", " << late
                                << " KiB at round " << ROUNDS;
#endif
}

// A port name or a dashboard address the station cannot use is named in the
// tool's words, and no board starts, not even on a well-named port.
TEST_F(StandInStation, AMalformedServerNameOrAnAddressInUseStartsNoBoard)
{
    StandIn("touch " + Path("ran") + "; exit 0");
    const LoopbackSocket taken = BindLoopback();
    ASSERT_EQ(listen(taken.fd, 1), 0);
    const std::string address = "127.0.0.1:" + std::to_string(taken.port);
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> messages;
    } cases[] = {
        {{"--port", "socket://[fd00::7:4002", "--repeat"},
         {"tarnwick-station: Invalid network port name \"socket://[fd00::7:4002\": ", "no board was started"}},
        {{"--http", address}, {"tarnwick-station: dashboard: cannot listen on " + address + "; no board was started"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1]);
        std::vector<std::string> args{"--burn", "--port", "/dev/a", "--run-dir", Path("run")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult run = RunProgram(Station(), args, OUTPUT_LIMIT_MS);
        EXPECT_EQ(run.exitCode, STATION_USAGE_EXIT) << run.output;
        ExpectHolds(run.output, c.messages);
        EXPECT_FALSE(Contains(run.output, "\"/dev/a\"")) << run.output;  // a device is left to its open
        EXPECT_FALSE(fs::exists(Path("ran")));
    }
    close(taken.fd);
}

class BoardsByAdapter : public StationTest {};

// The board on ttyUSB0 took every block of app.bin but never confirmed it: it
// succeeds with a warning on the console, in the summary and in the history.
TEST_F(BoardsByAdapter, TheFixtureIsChosenByUsbIdentityAndEveryBoardCarriesItsAdapterSerialAndWarning)
{
    StandIn(R"(event '{"event":"imageStarted","name":"app.bin","type":1,"bytes":10}'
case "$port" in
  *USB0) event '{"event":"imageEnded","ok":true,"result":"unconfirmed"}'
         report 0 "" false '[{"name":"app.bin","result":"ok","confirmed":false}]'; exit 0 ;;
  *) event '{"event":"imageEnded","ok":true,"result":"confirmed"}'
     report 0 "" false '[{"name":"app.bin","result":"ok","confirmed":true}]'; exit 0 ;;
esac)");
    // A fixture of USB adapters as sysfs shows them.
    const fs::path root = Path("root");
    const fs::path driver = root / "sys/bus/usb-serial/drivers/ftdi_sio";
    fs::create_directories(driver);
    for (const auto& [tty, usb, vendor, product, serial] : std::vector<std::array<std::string, 5>>{
             {"ttyUSB0", "1-1", "0403", "6001", "FTLEFT01"}, {"ttyUSB1", "1-2", "0403", "6001", "FTRIGHT2"},
             {"ttyUSB2", "1-3", "1a86", "7523", "CH340X"}}) {
        const fs::path device = root / "sys/devices/pci0000:00/usb1" / usb;
        WriteText((device / "idVendor").string(), vendor + "\n");
        WriteText((device / "idProduct").string(), product + "\n");
        WriteText((device / "serial").string(), serial + "\n");
        const fs::path ttyDevice = device / (usb + ":1.0") / tty;
        fs::create_directories(ttyDevice);
        fs::create_symlink(driver, ttyDevice / "driver");
        fs::create_directories(root / "sys/class/tty" / tty);
        fs::create_symlink(ttyDevice, root / "sys/class/tty" / tty / "device");
        WriteText((root / "dev" / tty).string(), "");
    }
    ASSERT_EQ(setenv("TARNWICK_SYSTEM_ROOT", Path("root").c_str(), 1), 0);
    ChildProcess station(Station(), WithOutputs({"--burn", "--ports-usb", "403:6001", "--history", Path("history.db")}));
    unsetenv("TARNWICK_SYSTEM_ROOT");
    ASSERT_EQ(station.Wait(STATION_LIMIT_MS), 0) << station.Output();
    const std::string warned = Path("root/dev/ttyUSB0");
    const std::string fine = Path("root/dev/ttyUSB1");
    ExpectHolds(station.Output(), {warned + " app.bin done, unconfirmed\n", fine + " succeeded\n",
                                   warned + " succeeded; warning: image app.bin unconfirmed\n",
                                   "2 boards, 2 succeeded (1 with a warning), 0 failed\n"});

    const nlohmann::json summary = Summary();
    // In the order of their ttys.
    const nlohmann::json boards{
        {{"port", warned}, {"adapterSerial", "FTLEFT01"}, {"warning", "image app.bin unconfirmed"}, {"result", "ok"}},
        {{"port", fine}, {"adapterSerial", "FTRIGHT2"}, {"warning", ""}, {"result", "ok"}}};
    EXPECT_EQ(Pick(summary["boards"], boards), boards);
    const nlohmann::json totals{{"boards", 2}, {"succeeded", 2}, {"warned", 1}, {"failed", 0}};
    EXPECT_EQ(Pick(summary["totals"], totals), totals);
    // Quality finds it a month later: the board is ok, and the history says what was not confirmed.
    const RunResult history = RunProgram(Station(), {"history", Path("history.db"), "--csv"}, OUTPUT_LIMIT_MS);
    EXPECT_EQ(history.exitCode, 0) << history.output;
    ExpectHolds(history.output,
                {warned + ",FTLEFT01,1,1,ok,0,", fine + ",FTRIGHT2,1,1,ok,0,", "image app.bin unconfirmed"});
}

}  // namespace
