#include "station/history_recorder.h"

namespace Station {

namespace {

// Failed records kept for another try; beyond this the oldest are dropped (and counted).
constexpr size_t MAX_FAILED_RECORDS = 10000;

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
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_notices.push_back(text);
    }
    if (m_wake) {
        m_wake();
    }
}

bool HistoryRecorder::TryRecord(const HistoryBoard& board)
{
    const HistoryStatus status = m_store->RecordBoard(m_runId, board);
    if (!status.Ok()) {
        Notice("could not record " + Describe(board) + ": " + status.error);
    }
    return status.Ok();
}

void HistoryRecorder::Work()
{
    for (;;) {
        HistoryBoard board;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this] { return !m_queue.empty() || m_stopping; });
            if (m_queue.empty() || std::chrono::steady_clock::now() >= m_giveUpAt) {
                return;
            }
            board = std::move(m_queue.front());
            m_queue.pop_front();
        }
        if (!TryRecord(board)) {
            m_failed.push_back(std::move(board));
            if (m_failed.size() > MAX_FAILED_RECORDS) {
                m_failed.pop_front();
                ++m_lost;
            }
            continue;
        }
        // The database takes records again: the ones it refused before go first.
        for (size_t i = m_failed.size(); i > 0; --i) {
            HistoryBoard again = std::move(m_failed.front());
            m_failed.pop_front();
            if (!TryRecord(again)) {
                m_failed.push_back(std::move(again));
            }
        }
    }
}

size_t HistoryRecorder::Finish(const std::string& endedUtc, double limitSeconds)
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
    // The thread has ended: its records are this thread's now.
    for (size_t i = m_failed.size(); i > 0 && std::chrono::steady_clock::now() < m_giveUpAt; --i) {
        HistoryBoard again = std::move(m_failed.front());
        m_failed.pop_front();
        if (!TryRecord(again)) {
            m_failed.push_back(std::move(again));
        }
    }
    const HistoryStatus ended = m_store->EndRun(m_runId, endedUtc);
    if (!ended.Ok()) {
        Notice("could not record the end of the run: " + ended.error);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queue.size() + m_failed.size() + m_lost;
}

}  // namespace Station
