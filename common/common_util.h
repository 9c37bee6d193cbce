#ifndef TARNWICK_COMMON_COMMON_UTIL_H
#define TARNWICK_COMMON_COMMON_UTIL_H

// Text, number and file helpers of the settings readers. The parsing functions
// print nothing; the file functions report their failures through the console
// funnel (common/console.h), so a job must have registered its print callback.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace CommonUtil {

// The number syntax of burn.config, the chip property files, the partition
// table and the command line: "0x" hexadecimal (up to 0x7FFFFFFF), or decimal
// with an optional k, m or g multiplier; case does not matter. Reading stops at
// the first character that is not a digit, so "1.5m" is 1 MiB.
// Returns false, leaving value untouched, when no digit can be read or the
// number does not fit; callers report the text and fail their step.
bool TryConvertToNumber(const std::string& text, int64_t& value);

// As TryConvertToNumber; a failure gives 0 and sets *ok to false, so a caller
// that passes ok can tell a failure from a written 0.
int64_t ConvertToNumber(const std::string& text, bool* ok = nullptr);

// For settings stored in 32 bits: the number must fit in 32 bits, signed or
// unsigned (-0x80000000 to 4294967295); values above 0x7FFFFFFF keep their
// low 32 bits, as a 32-bit register would. "4g" fails instead of becoming 0.
bool TryConvertToInt32(const std::string& text, int& value);

// Cuts text at every separator; empty pieces are kept, so "a=" gives "a" and "".
std::vector<std::string> Split(const std::string& text, char separator);

// Drops trailing CR, LF, blanks and tabs, then leading blanks and tabs.
std::string Trim(const std::string& text);

// Size of the file, 0 when it cannot be opened or does not fit in 32 bits.
uint32_t GetFileLen(const std::string& path);

// True when anything exists at path (file, directory or other entry).
bool FileIsExists(const std::string& path);

// Whole file into buffer, followed by at least 1024 zero bytes (buffer.size()
// is size + 1024). On failure the buffer is left empty.
bool GetFileContent(const std::string& path, std::vector<uint8_t>& buffer, uint32_t& size);

// Closes file when it is open.
void SafeCloseFile(FILE* file);

} // namespace CommonUtil

#endif
