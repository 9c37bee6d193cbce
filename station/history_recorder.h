// Writes the history on a thread of its own, so that a slow or failing
// database never holds up the station: records queue up, failures come back
// as notices, and a record that failed is tried again once the database
// takes records again.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "station/history.h"

namespace Station {

class HistoryRecorder {
public:
    // store has begun run runId; wake is called (from the recorder's thread)
    // when there are notices to take.
    HistoryRecorder(std::unique_ptr<HistoryStore> store, int64_t runId, std::function<void()> wake);
    ~HistoryRecorder();
    HistoryRecorder(const HistoryRecorder&) = delete;
    HistoryRecorder& operator=(const HistoryRecorder&) = delete;

    // Never waits for the database.
    void Record(HistoryBoard board);
    // What could not be recorded since the last call, one line each.
    std::vector<std::string> TakeNotices();
    // Records what is queued (for at most limitSeconds), tries what failed
    // once more and records the end of the run. The board attempts that are
    // not in the history.
    size_t Finish(const std::string& endedUtc, double limitSeconds);

private:
    void Work();
    void Notice(const std::string& text);
    bool TryRecord(const HistoryBoard& board);

    std::unique_ptr<HistoryStore> m_store;
    int64_t m_runId;
    std::function<void()> m_wake;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<HistoryBoard> m_queue;
    std::deque<HistoryBoard> m_failed;  // the recorder's thread only
    size_t m_lost = 0;                  // failed records dropped to bound memory
    std::vector<std::string> m_notices;
    bool m_stopping = false;
    std::chrono::steady_clock::time_point m_giveUpAt = std::chrono::steady_clock::time_point::max();
    std::thread m_thread;
};

}  // namespace Station
