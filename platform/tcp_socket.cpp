#include "platform/tcp_socket.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace Platform {

namespace {

// What the look-up thread hands back; shared, since a look-up that does not
// answer in time outlives the wait for it.
struct LookupAnswer {
    std::mutex lock;
    std::condition_variable answered;
    bool done = false;
    int error = 0;
    std::vector<ServerAddress> found;
    std::string reason;
};

}  // namespace

int LookUpWithin(const HostLookup& lookup, const std::string& host, uint16_t port, int timeoutMs,
                 std::vector<ServerAddress>& found, std::string& reason)
{
    auto answer = std::make_shared<LookupAnswer>();
    try {
        std::thread([answer, lookup, host, port] {
            std::vector<ServerAddress> addresses;
            std::string why;
            const int error = lookup(host, port, addresses, why);
            std::lock_guard<std::mutex> guard(answer->lock);
            answer->error = error;
            answer->found = std::move(addresses);
            answer->reason = std::move(why);
            answer->done = true;
            answer->answered.notify_all();
        }).detach();
    } catch (const std::system_error& failure) {
        reason = "cannot start the name look-up of " + host + ": " + failure.what();
        return EAGAIN;
    }
    std::unique_lock<std::mutex> guard(answer->lock);
    const auto window = std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    if (!answer->answered.wait_for(guard, window, [&answer] { return answer->done; })) {
        reason = "the name look-up of " + host + " gave no answer";
        return ETIMEDOUT;
    }
    found = std::move(answer->found);
    reason = std::move(answer->reason);
    return answer->error;
}

}  // namespace Platform
