// Shared pieces of the fuzz targets: a quiet console, a private scratch
// directory for readers that take a file path, and the input cut into pieces.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/console.h"

namespace FuzzSupport {

// Every message still goes through the console funnel and its formatting; only
// the final text is dropped, so a long run does not drown the fuzzer's own log.
inline void SwallowPrint(long long, const char* tag, const char* message, const char* detail, int)
{
    volatile size_t total = std::strlen(tag) + std::strlen(message) + std::strlen(detail);
    (void)total;
}

inline void QuietConsole()
{
    g_printInfo = SwallowPrint;
    std::fflush(stdout);
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        close(null);
    }
}

// Kept in plain storage: the exit handler runs after static strings are gone.
inline char g_scratchPath[4096];

// A directory of this process, removed at exit; ends with "/".
inline const std::string& ScratchDir()
{
    static const std::string dir = [] {
        // Memory-backed when there is one: a disk turns every input into a sync.
        std::error_code error;
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", error)
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        std::string pattern = (base / "tarnwick-fuzz-XXXXXX").string();
        if (pattern.size() >= sizeof(g_scratchPath) || mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        std::memcpy(g_scratchPath, pattern.c_str(), pattern.size() + 1);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(g_scratchPath, ignored);
        });
        return pattern + "/";
    }();
    return dir;
}

inline std::string WriteScratch(const std::string& relative, const uint8_t* data, size_t size)
{
    const std::string path = ScratchDir() + relative;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(path.c_str());
        std::abort();
    }
    if (size > 0 && std::fwrite(data, 1, size, file) != size) {
        std::abort();
    }
    std::fclose(file);
    return path;
}

// The input cut at every NUL byte; empty pieces are kept.
inline std::vector<std::string> SplitAtNul(const uint8_t* data, size_t size)
{
    std::vector<std::string> pieces(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            pieces.emplace_back();
        } else {
            pieces.back().push_back(static_cast<char>(data[i]));
        }
    }
    return pieces;
}

}  // namespace FuzzSupport
