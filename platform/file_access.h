// Files named by UTF-8 paths, opened with the C library's FILE streams, and
// the few file queries the C library leaves to each system.
#ifndef TARNWICK_PLATFORM_FILE_ACCESS_H
#define TARNWICK_PLATFORM_FILE_ACCESS_H

#include <cstdint>
#include <cstdio>
#include <string>

namespace Platform {

// fopen of a UTF-8 path (Windows: the wide call, so any name opens).
FILE* OpenFile(const std::string& path, const char* mode);
// true when the open file is a directory (or cannot be examined).
bool IsDirectoryStream(FILE* file);
// Seek and position beyond 2 GiB; origin as fseek. 0 / -1 on failure.
int SeekFile(FILE* file, int64_t offset, int origin);
int64_t TellFile(FILE* file);

// true when anything exists at path (access rights are not tested).
bool PathExists(const std::string& path);
// 0 on success, otherwise errno.
int RemoveFile(const std::string& path);
// Puts from in place of to, replacing an existing to; 0 or errno.
int MoveIntoPlace(const std::string& from, const std::string& to);

}  // namespace Platform

#endif
