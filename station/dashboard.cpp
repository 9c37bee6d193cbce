#include "station/dashboard.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "station/dashboard_assets.h"

namespace Station {

namespace {

// Every open event stream holds one worker; the rest serve the page and the state.
constexpr size_t WORKER_THREADS = 8;
constexpr int MAX_EVENT_STREAMS = 6;
// A browser that takes no bytes for this long is let go.
constexpr time_t WRITE_TIMEOUT_S = 2;
constexpr time_t READ_TIMEOUT_S = 5;
// One request per connection: an idle connection would hold a worker, and
// the station's end, for its keep-alive time.
constexpr size_t REQUESTS_PER_CONNECTION = 1;
// A comment line on a quiet stream, so proxies and browsers keep it open.
constexpr std::chrono::seconds HEARTBEAT{15};
constexpr int SERVICE_UNAVAILABLE = 503;
constexpr std::chrono::seconds STARTUP_LIMIT{2};
constexpr std::chrono::milliseconds STARTUP_STEP{1};

class HttpDashboard : public Dashboard {
public:
    HttpDashboard() = default;
    ~HttpDashboard() override { Stop(); }

    bool Listen(const std::string& host, int port, const std::string& hostName, std::string& error);
    std::string Url() const override { return m_url; }
    void Publish(std::string state) override;
    void Finish(std::string state, double lingerSeconds) override;

private:
    void Routes();
    // One step of an event stream: the newest state once it is newer than the last one sent.
    bool StreamStep(uint64_t& sent, httplib::DataSink& sink);
    void Stop();

    httplib::Server m_server;
    std::thread m_thread;
    std::string m_url;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::shared_ptr<const std::string> m_state = std::make_shared<const std::string>("{}");
    uint64_t m_version = 0;
    bool m_closing = false;
    int m_streams = 0;
};

bool HttpDashboard::Listen(const std::string& host, int port, const std::string& hostName, std::string& error)
{
    m_server.new_task_queue = [] { return new httplib::ThreadPool(WORKER_THREADS); };
    m_server.set_write_timeout(WRITE_TIMEOUT_S, 0);
    m_server.set_read_timeout(READ_TIMEOUT_S, 0);
    m_server.set_keep_alive_max_count(REQUESTS_PER_CONNECTION);
    Routes();
    const int bound = port == 0 ? m_server.bind_to_any_port(host) : (m_server.bind_to_port(host, port) ? port : -1);
    if (bound <= 0) {
        error = "cannot listen on " + host + ":" + std::to_string(port);
        return false;
    }
    const bool wildcard = host == "0.0.0.0" || host == "::";
    const std::string shown = wildcard && !hostName.empty() ? hostName : host;
    const bool ipv6 = shown.find(':') != std::string::npos;
    m_url = "http://" + (ipv6 ? "[" + shown + "]" : shown) + ":" + std::to_string(bound) + "/";
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
    // Until it runs, a stop would not reach it.
    const auto giveUp = std::chrono::steady_clock::now() + STARTUP_LIMIT;
    while (!m_server.is_running() && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(STARTUP_STEP);
    }
    return true;
}

void HttpDashboard::Routes()
{
    const auto asset = [](const char* body, const char* type) {
        return [body, type](const httplib::Request&, httplib::Response& response) {
            response.set_header("Cache-Control", "no-cache");
            response.set_content(body, type);
        };
    };
    m_server.Get("/", asset(DASHBOARD_HTML, "text/html; charset=utf-8"));
    m_server.Get("/dashboard.js", asset(DASHBOARD_JS, "text/javascript; charset=utf-8"));
    m_server.Get("/dashboard.css", asset(DASHBOARD_CSS, "text/css; charset=utf-8"));
    m_server.Get("/api/state", [this](const httplib::Request&, httplib::Response& response) {
        std::shared_ptr<const std::string> state;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            state = m_state;
        }
        response.set_header("Cache-Control", "no-cache");
        response.set_content(*state, "application/json");
    });
    m_server.Get("/api/events", [this](const httplib::Request&, httplib::Response& response) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_streams >= MAX_EVENT_STREAMS || m_closing) {
                response.status = SERVICE_UNAVAILABLE;
                return;
            }
            ++m_streams;
        }
        response.set_header("Cache-Control", "no-cache");
        auto sent = std::make_shared<uint64_t>(0);
        response.set_chunked_content_provider(
            "text/event-stream",
            [this, sent](size_t, httplib::DataSink& sink) { return StreamStep(*sent, sink); },
            [this](bool) {
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    --m_streams;
                }
                m_changed.notify_all();
            });
    });
}

bool HttpDashboard::StreamStep(uint64_t& sent, httplib::DataSink& sink)
{
    std::shared_ptr<const std::string> state;
    uint64_t version = 0;
    bool closing = false;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, HEARTBEAT, [this, &sent] { return m_version > sent || m_closing; });
        state = m_state;
        version = m_version;
        closing = m_closing;
    }
    if (version > sent) {
        const std::string frame = "event: state\ndata: " + *state + "\n\n";
        if (!sink.write(frame.data(), frame.size())) {
            return false;
        }
        sent = version;
    } else if (!closing) {
        static const std::string heartbeat = ": still here\n\n";
        if (!sink.write(heartbeat.data(), heartbeat.size())) {
            return false;
        }
    }
    if (closing && sent == version) {
        sink.done();
    }
    return true;
}

void HttpDashboard::Publish(std::string state)
{
    auto shared = std::make_shared<const std::string>(std::move(state));
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_state = std::move(shared);
        ++m_version;
    }
    m_changed.notify_all();
}

void HttpDashboard::Finish(std::string state, double lingerSeconds)
{
    Publish(std::move(state));
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_closing = true;
        m_changed.notify_all();
        m_changed.wait_for(lock, std::chrono::duration<double>(lingerSeconds), [this] { return m_streams == 0; });
    }
    Stop();
}

void HttpDashboard::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = true;
    }
    m_changed.notify_all();
    m_server.stop();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

}  // namespace

std::unique_ptr<Dashboard> Dashboard::Start(const std::string& host, int port, const std::string& hostName,
                                            std::string& error)
{
    auto dashboard = std::make_unique<HttpDashboard>();
    if (!dashboard->Listen(host, port, hostName, error)) {
        return nullptr;
    }
    return dashboard;
}

}  // namespace Station
