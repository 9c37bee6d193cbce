// Writes the history on a thread of its own, so that a slow or failing
// database never holds up the station: records queue up in order, a failure
// comes back as a notice, and the record that failed is tried again (with
// every one behind it) when the next board ends; a failing database costs at
// most one try per board.
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

// What the recorder did by the end of the run.
struct HistoryOutcome {
    size_t recorded = 0;
    size_t missing = 0;  // board attempts not in the history, each named in a notice
    double meanRecordSeconds = 0.0;
    double maxRecordSeconds = 0.0;
};

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
    // Records what is queued (trying once more after a failure, for at most
    // limitSeconds in all) and the end of the run.
    HistoryOutcome Finish(const std::string& endedUtc, double limitSeconds);

private:
    void Work();
    void Notice(const std::string& text);
    // Records the queue from its head until it is empty or a record fails.
    bool RecordQueue(std::unique_lock<std::mutex>& lock);

    std::unique_ptr<HistoryStore> m_store;
    int64_t m_runId;
    std::function<void()> m_wake;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<HistoryBoard> m_queue;  // oldest first; its head failed when m_failing
    bool m_failing = false;
    size_t m_arrivedSinceFailure = 0;
    size_t m_lost = 0;  // records dropped to bound memory while the database failed
    size_t m_recorded = 0;
    double m_recordSeconds = 0.0;
    double m_maxRecordSeconds = 0.0;
    std::vector<std::string> m_notices;
    bool m_stopping = false;
    std::chrono::steady_clock::time_point m_giveUpAt = std::chrono::steady_clock::time_point::max();
    std::thread m_thread;
};

}  // namespace Station
