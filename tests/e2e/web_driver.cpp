#include "web_driver.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/test_files.h"

namespace E2e {

namespace {

constexpr const char* DRIVER = "/usr/bin/chromedriver";
constexpr const char* BROWSERS[] = {"/usr/lib/chromium/chromium", "/usr/bin/chromium"};
constexpr const char* DRIVER_READY = "started successfully on port ";
constexpr int DRIVER_START_MS = 30000;
constexpr time_t COMMAND_TIMEOUT_S = 60;

// What the browser needs to run headless in a container with the network closed.
const char* const BROWSER_FLAGS[] = {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                                     "--disable-background-networking", "--disable-component-update",
                                     "--disable-sync", "--disable-dev-shm-usage", "--window-size=1200,760"};

// The port chromedriver names on its first lines in its log, 0 when it names none in time.
int DriverPort(const std::string& log)
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(DRIVER_START_MS);
    while (std::chrono::steady_clock::now() < giveUp) {
        const TestSupport::Bytes bytes = TestSupport::ReadFile(log);
        const std::string text(bytes.begin(), bytes.end());
        const size_t at = text.find(DRIVER_READY);
        if (at != std::string::npos && text.find('.', at + std::strlen(DRIVER_READY)) != std::string::npos) {
            return std::atoi(text.c_str() + at + std::strlen(DRIVER_READY));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return 0;
}

}  // namespace

HeadlessBrowser::HeadlessBrowser(const std::string& profileDir)
{
    const auto installed = [](const char* path) { return access(path, X_OK) == 0; };
    const auto browser = std::find_if(std::begin(BROWSERS), std::end(BROWSERS), installed);
    if (browser == std::end(BROWSERS) || access(DRIVER, X_OK) != 0) {
        m_error = "chromium and chromium-driver are not installed (scripts/test installs them)";
        return;
    }
    // A file, unlike a pipe nobody reads, never holds the driver or the browser up.
    const std::string log = profileDir + ".driver.log";
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    m_driver = TestSupport::Spawn({DRIVER, "--port=0"}, fd, true);
    close(fd);
    m_port = DriverPort(log);
    if (m_port == 0) {
        m_error = "chromedriver did not start";
        return;
    }
    std::filesystem::create_directories(profileDir);
    std::vector<std::string> args(std::begin(BROWSER_FLAGS), std::end(BROWSER_FLAGS));
    args.push_back("--user-data-dir=" + profileDir);
    const nlohmann::json options{{"binary", *browser}, {"args", args}};
    const nlohmann::json chrome{{"browserName", "chrome"}, {"goog:chromeOptions", options}};
    const nlohmann::json session = Command("POST", "/session", {{"capabilities", {{"alwaysMatch", chrome}}}});
    if (!session.is_object() || !session.contains("sessionId")) {
        m_error = "no browser session: " + session.dump();
        return;
    }
    m_session = session["sessionId"].get<std::string>();
}

HeadlessBrowser::~HeadlessBrowser()
{
    if (!m_session.empty()) {
        Command("DELETE", "/session/" + m_session, nullptr);
    }
    if (m_driver > 0) {
        kill(m_driver, SIGTERM);
        waitpid(m_driver, nullptr, 0);
    }
}

nlohmann::json HeadlessBrowser::Command(const std::string& method, const std::string& path, const nlohmann::json& body)
{
    httplib::Client client("127.0.0.1", m_port);
    client.set_read_timeout(COMMAND_TIMEOUT_S, 0);
    const std::string text = body.is_null() ? "" : body.dump();
    httplib::Result result = method == "POST" ? client.Post(path, text, "application/json") : client.Delete(path);
    if (!result) {
        return nullptr;
    }
    const nlohmann::json answer = nlohmann::json::parse(result->body, nullptr, false);
    if (!answer.is_object() || !answer.contains("value")) {
        return nullptr;
    }
    if (result->status != 200) {
        m_error = answer["value"].dump();
        return nullptr;
    }
    return answer["value"];
}

}  // namespace E2e
