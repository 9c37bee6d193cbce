#ifndef TARNWICK_PLATFORM_FILE_COMMIT_H
#define TARNWICK_PLATFORM_FILE_COMMIT_H

// Content that must replace a file only once it is complete: it is written to
// a file of its own beside the target and put in the target's place in one
// step, so a reader of the target sees the old file or the new one, never a
// part of the new one.

#include <string>

namespace Platform {

class StagedFile {
public:
    // Creates an empty file with a unique name in the directory of target.
    explicit StagedFile(const std::string& target);
    // Removes the staged file unless it was committed.
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // False when the staged file could not be created; Error() says why.
    bool IsCreated() const { return !m_path.empty(); }
    // Where the content goes; empty when nothing was created.
    const std::string& Path() const { return m_path; }

    // Makes the staged content durable (fsync) and then puts it in place of
    // the target (rename). On false the target is as it was and the staged
    // file is removed with the object.
    bool Commit();

    const std::string& Error() const { return m_error; }

private:
    std::string m_target;
    std::string m_path;
    std::string m_error;
    bool m_committed = false;
};

} // namespace Platform

#endif
