#include "station/history_recorder.h"

#include <algorithm>

namespace Station {

namespace {

// Records kept while the database fails; beyond this the oldest are dropped (and counted).
constexpr size_t MAX_PENDING_RECORDS = 10000;

std::string Describe(const HistoryBoard& board)
{
    return board.port + " (board " + std::to_string(board.round) + ", attempt " + std::to_string(board.attempt) + ")";
}

}  // namespace

HistoryRecorder::HistoryRecorder(std::unique_ptr<HistoryStore> store, int64_t runId, std::function<void()> wake)
    : m_store(std::move(store)), m_runId(runId), m_wake(std::move(wake)), m_thread([this] { Work(); })
{
}

HistoryRecorder::~HistoryRecorder()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_giveUpAt = std::chrono::steady_clock::now();
    }
    m_changed.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void HistoryRecorder::Record(HistoryBoard board)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(board));
        ++m_arrivedSinceFailure;
        if (m_queue.size() > MAX_PENDING_RECORDS) {
            m_queue.pop_front();
            ++m_lost;
        }
    }
    m_changed.notify_all();
}

std::vector<std::string> HistoryRecorder::TakeNotices()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> notices;
    notices.swap(m_notices);
    return notices;
}

void HistoryRecorder::Notice(const std::string& text)
{
    m_notices.push_back(text);
    if (m_wake) {
        m_wake();
    }
}

bool HistoryRecorder::RecordQueue(std::unique_lock<std::mutex>& lock)
{
    while (!m_queue.empty() && std::chrono::steady_clock::now() < m_giveUpAt) {
        const HistoryBoard board = m_queue.front();
        m_arrivedSinceFailure = 0;
        lock.unlock();
        const auto started = std::chrono::steady_clock::now();
        const HistoryStatus status = m_store->RecordBoard(m_runId, board);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        lock.lock();
        if (!status.Ok()) {
            if (!m_failing) {
                Notice("could not record " + Describe(board) + ": " + status.error + "; trying again with the next board");
            }
            m_failing = true;
            return false;
        }
        if (m_failing) {
            Notice("recording again from " + Describe(board));
        }
        m_failing = false;
        ++m_recorded;
        m_recordSeconds += seconds;
        m_maxRecordSeconds = std::max(m_maxRecordSeconds, seconds);
        // The board recorded may have been dropped meanwhile to bound memory.
        if (!m_queue.empty() && m_queue.front().port == board.port && m_queue.front().round == board.round &&
            m_queue.front().attempt == board.attempt) {
            m_queue.pop_front();
        }
    }
    return m_queue.empty();
}

void HistoryRecorder::Work()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        // After a failure, only a board that ended since (or the end) is worth another try.
        m_changed.wait(lock, [this] { return m_stopping || (!m_queue.empty() && (!m_failing || m_arrivedSinceFailure > 0)); });
        if (m_stopping) {
            return;
        }
        RecordQueue(lock);
    }
}

HistoryOutcome HistoryRecorder::Finish(const std::string& endedUtc, double limitSeconds)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_giveUpAt = std::chrono::steady_clock::now() +
                     std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                         std::chrono::duration<double>(limitSeconds));
    }
    m_changed.notify_all();
    m_thread.join();
    std::unique_lock<std::mutex> lock(m_mutex);
    // One more try for whatever is left, in order; it stops at the first failure.
    RecordQueue(lock);
    lock.unlock();
    const HistoryStatus ended = m_store->EndRun(m_runId, endedUtc);
    lock.lock();
    for (const HistoryBoard& board : m_queue) {
        Notice("not recorded: " + Describe(board) + ", " + board.result);
    }
    if (!ended.Ok()) {
        Notice("could not record the end of the run: " + ended.error);
    }
    HistoryOutcome outcome;
    outcome.recorded = m_recorded;
    outcome.missing = m_queue.size() + m_lost;
    outcome.meanRecordSeconds = m_recorded > 0 ? m_recordSeconds / static_cast<double>(m_recorded) : 0.0;
    outcome.maxRecordSeconds = m_maxRecordSeconds;
    return outcome;
}

}  // namespace Station
