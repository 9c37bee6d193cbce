// The live dashboard seen from outside: a real browser (headless chromium)
// on the page while four simulated boards burn, reading the page's DOM as it
// changes, one board's image left unconfirmed; and browsers that never read,
// which must not hold the station up nor the JSON state from being served.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>

#include <chrono>
#include <map>
#include <thread>

#include "station_support.h"
#include "web_driver.h"

using namespace E2e;

namespace {

constexpr size_t BOARDS = 4;
constexpr const char* URL_LINE = "dashboard: ";
// Paces the simulated lines so that the burn lasts seconds, long enough to watch.
constexpr const char* LINE_BAUD = "115200";
constexpr size_t WATCHED_APP_BYTES = 60000;
constexpr int DOM_READS_LIMIT = 1200;

// What the page shows of each tile, read from its DOM.
constexpr const char* READ_TILES = R"(
return {
  tiles: Array.from(document.querySelectorAll('.tile')).map(function (t) {
    return { port: t.dataset.port, state: t.dataset.state,
             percent: parseInt(t.querySelector('.percent').textContent, 10),
             result: t.querySelector('.result').textContent,
             warned: t.dataset.warned, warning: t.querySelector('.warning').textContent };
  }),
  succeeded: document.getElementById('succeeded').textContent,
  warned: document.getElementById('warned').textContent,
  connection: document.getElementById('connection').textContent,
  sha256: document.getElementById('sha256').textContent
};)";

std::string UrlOf(const std::string& output)
{
    const size_t at = output.find(URL_LINE);
    if (at == std::string::npos) {
        return "";
    }
    const size_t start = at + std::string(URL_LINE).size();
    return output.substr(start, output.find('\n', start) - start);
}

class DashboardTest : public StationTest {};

// The last board's closing ACK of app.bin comes garbled: it succeeds with a warning.
TEST_F(DashboardTest, ABrowserWatchesFourBoardsBurnAndSeesTheirResultsAndAWarning)
{
    const std::string file = Given("fw.fwpkg", BuildPackage(SmallPackage(WATCHED_APP_BYTES)));
    HeadlessBrowser browser(Path("profile"));
    ASSERT_TRUE(browser.Ok()) << browser.Error();
    std::vector<std::string> args{"--burn", "--http", "127.0.0.1:0", "--run-dir", Path("run"), "-n", "vb27", "-f", file};
    const auto sims = StartBoards(BOARDS, &args, "vb27", {"--line-baud", LINE_BAUD}, BOARDS - 1,
                                  {"--corrupt-answer", "close@2"});
    ChildProcess station(Station(), args);
    ASSERT_TRUE(station.WaitForOutput(URL_LINE, OUTPUT_LIMIT_MS)) << station.Output();
    ASSERT_TRUE(station.WaitForOutput("/\n", OUTPUT_LIMIT_MS)) << station.Output();
    ASSERT_TRUE(browser.Open(UrlOf(station.Output()))) << browser.Error();

    // The page's DOM, read again and again until the run has ended: a tile's progress moves on the way,
    // and the page keeps its final state once the browser has taken in the stream's last states.
    std::map<std::string, int> firstSeen;
    bool moved = false;
    nlohmann::json last = nlohmann::json::object();
    for (int reads = 0; reads < DOM_READS_LIMIT && last.value("connection", "") != "run ended"; ++reads) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        last = browser.Run(READ_TILES);
        ASSERT_TRUE(last.is_object()) << browser.Error();
        for (const nlohmann::json& tile : last["tiles"]) {
            const int percent = tile["percent"].get<int>();
            const std::string tilePort = tile["port"].get<std::string>();
            moved = moved || (firstSeen.count(tilePort) != 0 && percent > firstSeen[tilePort]);
            if (percent > 0 && percent < 100 && firstSeen.count(tilePort) == 0) {
                firstSeen[tilePort] = percent;
            }
        }
    }
    EXPECT_TRUE(moved) << "no tile's progress moved while the page was read";
    ASSERT_EQ(station.Wait(STATION_LIMIT_MS), 0) << station.Output();
    ASSERT_EQ(last["tiles"].size(), BOARDS) << last.dump();
    for (const nlohmann::json& tile : last["tiles"]) {
        const bool warned = tile["port"] == sims.back()->Port();
        const nlohmann::json shown{{"state", "ok"}, {"result", "ok"}, {"percent", 100},
                                   {"warned", warned ? "yes" : "no"},
                                   {"warning", warned ? "warning: image app.bin unconfirmed" : ""}};
        EXPECT_EQ(Pick(tile, shown), shown) << tile.dump();
    }
    const nlohmann::json ended{{"succeeded", "4"}, {"warned", "1"}, {"connection", "run ended"},
                               {"sha256", Sha256Hex(ReadFile(file))}};
    EXPECT_EQ(Pick(last, ended), ended);
}

// A client that asks for the event stream, takes the answer's head and then
// never reads another byte.
constexpr int STALLED_HEAD_LIMIT_MS = 30000;
int StalledReader(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int small = 1024;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string request = "GET /api/events HTTP/1.1\r\nHost: station\r\n\r\n";
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
              write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size());
    // Its answer's head, so the stream holds its place before the next one
    // asks; after that it reads nothing more.
    std::string head;
    char byte = 0;
    pollfd ready{fd, POLLIN, 0};
    while (ok && head.find("\r\n\r\n") == std::string::npos) {
        ok = poll(&ready, 1, STALLED_HEAD_LIMIT_MS) == 1 && read(fd, &byte, 1) == 1;
        head += byte;
    }
    if (!ok) {
        close(fd);
    }
    return ok ? fd : -1;
}

TEST_F(DashboardTest, BrowsersThatNeverReadHoldNothingUp)
{
    std::vector<std::string> args = WithOutputs({"--burn", "--http", "127.0.0.1:0"});
    for (int i = 0; i < 8; ++i) {
        args.insert(args.end(), {"--port", "/dev/fixture-" + std::to_string(i)});
    }
    // The boards wait until the stalled browsers are in place, then report progress as fast as they
    // can, so that the state changes all the time.
    StandIn("while [ ! -e " + Path("go") + " ]; do sleep 0.05; done\n" + R"(event '{"event":"waiting"}'
event '{"event":"imageStarted","name":"app.bin","type":1,"bytes":100000}'
i=0
while [ $i -lt 300 ]; do event "{\"event\":\"progress\",\"percent\":$((i / 3))}"; i=$((i + 1)); done
event '{"event":"imageEnded","ok":true}'
report 0 "" false '[{"name":"app.bin"}]'
exit 0)");
    ChildProcess station(Station(), args);
    ASSERT_TRUE(station.WaitForOutput("/\n", OUTPUT_LIMIT_MS)) << station.Output();
    const std::string url = UrlOf(station.Output());  // http://127.0.0.1:PORT/
    const int port = std::atoi(url.c_str() + url.rfind(':') + 1);
    std::vector<int> stalled;
    for (int i = 0; i < 6; ++i) {
        stalled.push_back(StalledReader(port));
        ASSERT_GE(stalled.back(), 0);
    }
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(10, 0);
    // Once the stalled ones hold every stream, more are turned away, so the page and the state stay served.
    int status = 0;
    for (int tries = 0; tries < 100 && status != 503; ++tries) {
        const httplib::Result answer =
            client.Get("/api/events", [](const char*, size_t) { return false; });  // a first byte is enough
        status = answer ? answer->status : (answer.error() == httplib::Error::Canceled ? 200 : 0);
    }
    EXPECT_EQ(status, 503) << station.Output();
    WriteText(Path("go"), "");
    // The JSON state, every port in it (its fields: tests/station/station_report_test.cpp); read-only.
    const httplib::Result state = client.Get("/api/state");
    ASSERT_TRUE(state) << station.Output();
    EXPECT_EQ(state->status, 200);
    EXPECT_EQ(state->get_header_value("Content-Type"), "application/json");
    const nlohmann::json json = nlohmann::json::parse(state->body, nullptr, false);
    EXPECT_EQ(json["boards"].size(), 8u) << state->body;
    EXPECT_EQ(json["station"]["operation"], "--burn");
    const httplib::Result post = client.Post("/api/state", "{}", "application/json");
    ASSERT_TRUE(post);
    EXPECT_GE(post->status, 400);
    EXPECT_EQ(station.Wait(STATION_LIMIT_MS), 0) << station.Output();
    for (const int fd : stalled) {
        close(fd);
    }
    EXPECT_EQ(Summary()["totals"]["succeeded"], 8) << Summary().dump();
}

}  // namespace
