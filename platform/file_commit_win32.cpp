#include "platform/file_commit.h"

#include <windows.h>

#include <cstring>

#include "platform/text_win32.h"

namespace Platform {

namespace {

constexpr const char* STAGED_MARK = ".part-";
constexpr int MAX_NAME_TRIES = 100;

// The C library's words for the error, as on every other system.
std::string LastError(const char* what)
{
    return std::string(what) + ": " + std::strerror(ErrnoFromWin32(GetLastError()));
}

// Flushes the file's data to the disk.
bool SyncFile(const std::string& path)
{
    HANDLE file = CreateFileW(WidenUtf8(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool synced = FlushFileBuffers(file) != 0;
    return CloseHandle(file) != 0 && synced;
}

}  // namespace

StagedFile::StagedFile(const std::string& target) : m_target(target)
{
    // Unique among concurrent runs by the process id and within one run by
    // the counter; CREATE_NEW refuses to reuse any file that exists.
    static unsigned counter = 0;
    for (int attempt = 0; attempt < MAX_NAME_TRIES; ++attempt) {
        const std::string candidate =
            target + STAGED_MARK + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
        HANDLE file = CreateFileW(WidenUtf8(candidate).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            m_path = candidate;
            return;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
            m_error = LastError("cannot create a file beside it");
            return;
        }
    }
    m_error = "no unused file name beside it";
}

StagedFile::~StagedFile()
{
    if (!m_path.empty() && !m_committed) {
        DeleteFileW(WidenUtf8(m_path).c_str());
    }
}

bool StagedFile::Commit()
{
    if (m_path.empty() || m_committed) {
        m_error = "nothing to put in place";
        return false;
    }
    if (!SyncFile(m_path)) {
        m_error = LastError("cannot flush the data to disk");
        return false;
    }
    // Write-through: the new name is on disk when the call returns.
    if (!MoveFileExW(WidenUtf8(m_path).c_str(), WidenUtf8(m_target).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        m_error = LastError("cannot put the file in place");
        return false;
    }
    m_committed = true;
    return true;
}

}  // namespace Platform
