// Debian's chromium, headless, driven through chromedriver's WebDriver
// protocol (HTTP and JSON on a loopback port): open a page and run a script
// that reads its DOM. Nothing leaves the machine: the browser starts with
// every background fetch switched off and a new empty profile.
#pragma once

#include <sys/types.h>

#include <string>

#include <nlohmann/json.hpp>

namespace E2e {

class HeadlessBrowser {
public:
    explicit HeadlessBrowser(const std::string& profileDir);
    ~HeadlessBrowser();
    HeadlessBrowser(const HeadlessBrowser&) = delete;
    HeadlessBrowser& operator=(const HeadlessBrowser&) = delete;

    bool Ok() const { return m_error.empty(); }
    const std::string& Error() const { return m_error; }
    bool Open(const std::string& url)
    {
        Command("POST", "/session/" + m_session + "/url", {{"url", url}});
        return Ok();
    }
    // The value the script returns ("return ..."), null on failure.
    nlohmann::json Run(const std::string& script)
    {
        return Command("POST", "/session/" + m_session + "/execute/sync",
                       {{"script", script}, {"args", nlohmann::json::array()}});
    }

private:
    nlohmann::json Command(const std::string& method, const std::string& path, const nlohmann::json& body);

    pid_t m_driver = -1;
    int m_port = 0;
    std::string m_session;
    std::string m_error;
};

}  // namespace E2e
