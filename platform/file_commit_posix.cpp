#include "platform/file_commit.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace Platform {

namespace {

constexpr const char* STAGED_MARK = ".part-";
constexpr int MAX_NAME_TRIES = 100;
// Like a file the process creates itself: the umask decides.
constexpr mode_t NEW_FILE_MODE = 0666;

std::string DirectoryOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string LastError(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

// Flushes the file or directory at path to the disk.
bool SyncPath(const std::string& path, int flags)
{
    const int fd = open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool synced = fsync(fd) == 0;
    return close(fd) == 0 && synced;
}

} // namespace

StagedFile::StagedFile(const std::string& target) : m_target(target)
{
    // The name is unique among concurrent runs by the process id and within
    // one run by the counter; O_EXCL refuses to reuse any file that exists.
    static unsigned counter = 0;
    for (int attempt = 0; attempt < MAX_NAME_TRIES; ++attempt) {
        const std::string candidate =
            target + STAGED_MARK + std::to_string(getpid()) + "-" + std::to_string(counter++);
        const int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, NEW_FILE_MODE);
        if (fd >= 0) {
            close(fd);
            m_path = candidate;
            return;
        }
        if (errno != EEXIST) {
            m_error = LastError("cannot create a file beside it");
            return;
        }
    }
    m_error = "no unused file name beside it";
}

StagedFile::~StagedFile()
{
    if (!m_path.empty() && !m_committed) {
        unlink(m_path.c_str());
    }
}

bool StagedFile::Commit()
{
    if (m_path.empty() || m_committed) {
        m_error = "nothing to put in place";
        return false;
    }
    if (!SyncPath(m_path, O_RDONLY)) {
        m_error = LastError("cannot flush the data to disk");
        return false;
    }
    if (rename(m_path.c_str(), m_target.c_str()) != 0) {
        m_error = LastError("cannot put the file in place");
        return false;
    }
    m_committed = true;
    // So that the new name survives a power loss too. The data is on disk
    // and in place already, so a directory that cannot be flushed (some file
    // systems refuse) does not undo the commit.
    (void)SyncPath(DirectoryOf(m_target), O_RDONLY | O_DIRECTORY);
    return true;
}

} // namespace Platform
