#ifndef TARNWICK_COMMON_FILE_HELPERS_H
#define TARNWICK_COMMON_FILE_HELPERS_H

// File helpers of the device side. Messages go through the
// console funnel with the caller's handle (0 when there is none). Sizes are
// 32-bit: a file of 4 GiB or more is refused with a message, never truncated.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>
#include "common/printf_format.h"
#include "platform/large_buffer.h"

namespace Common {

// Slack allocated after the content by the whole-file and slice readers, so that
// callers may pad or append in place.
inline constexpr uint32_t FILE_DATA_SLACK = 4096;

// --- files -----------------------------------------------------------------

// A file's content as the readers below return it; a package kept through a
// run lies in large pages where the system has them.
using FileBytes = Platform::LargeBuffer;

// Whole file; the buffer holds size + FILE_DATA_SLACK bytes (the slack is not
// initialised). Null on failure (an empty file fails with "ftell failed\n").
FileBytes GetFileData(const std::string& path, uint32_t& size, long long handle = 0);

// size bytes from offset; the buffer holds size + FILE_DATA_SLACK zero-filled
// bytes. Null on failure, including a slice that runs past the end of the file.
FileBytes GetPartFileData(const std::string& path, long long handle, uint32_t offset, uint32_t size);

// Closes a non-null file and nulls the caller's handle.
void CloseFile(FILE*& file);

// Opens path (lexically normalised: "." and ".." steps removed) with mode;
// file is null on failure.
void OpenFile(FILE*& file, const std::string& path, const char* mode);

// --- paths and texts -------------------------------------------------------

// Part after the last "\\", else after the last "/", else the whole path.
std::string GetFileName(const std::string& path);
// printf into a 4096-byte buffer; empty text on failure or when it does not fit.
std::string FormatInfo(const char* format, ...) TARNWICK_PRINTF_FORMAT(1, 2);

} // namespace Common

#endif
