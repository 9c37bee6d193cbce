#ifndef TARNWICK_COMMON_SECURE_FUNCTIONS_H
#define TARNWICK_COMMON_SECURE_FUNCTIONS_H

// Bounds-checked copy, fill and format functions. They take the destination's
// capacity, refuse what would overflow it or copy between overlapping ranges,
// and say why through a result code. Memory and string functions return 0 on
// success; the format functions return the length written or -1.

#include <cstdarg>
#include <cstddef>
// The C runtime's declarations first, so that these below take their place
// in every unit that includes this header.
#include <cstdio>
#include <cstring>
#include "common/printf_format.h"

// Largest accepted capacity (and strncpy_s count).
inline constexpr size_t SECUREC_MAX_LEN = 0x7FFFFFFF;

// Result codes of the memory and string functions.
inline constexpr int SECUREC_EOK = 0;
inline constexpr int SECUREC_EINVAL = 22;                   // destination null: untouched
inline constexpr int SECUREC_ERANGE = 34;                   // capacity 0 or too large: untouched
inline constexpr int SECUREC_EINVAL_AND_RESET = 22 + 128;   // source null: destination cleared
inline constexpr int SECUREC_ERANGE_AND_RESET = 34 + 128;   // request too large: cleared (memset_s: filled)
inline constexpr int SECUREC_EOVERLAP_AND_RESET = 54 + 128; // ranges overlap: cleared

// C linkage: the Windows C runtime declares functions of these names, and
// these definitions are the ones linked in their place.
extern "C" {

int memcpy_s(void* dest, size_t destMax, const void* src, size_t count);
int memmove_s(void* dest, size_t destMax, const void* src, size_t count);
int memset_s(void* dest, size_t destMax, int c, size_t count);
// count == SIZE_MAX copies as much as fits (at most destMax - 1 characters).
int strncpy_s(char* dest, size_t destMax, const char* src, size_t count);

// Characters written (terminator not counted), or -1 with dest[0] = 0 on any
// failure, truncation included.
int sprintf_s(char* dest, size_t destMax, const char* format, ...) TARNWICK_PRINTF_FORMAT(3, 4);
int vsprintf_s(char* dest, size_t destMax, const char* format, va_list args)
    TARNWICK_PRINTF_FORMAT(3, 0);

}  // extern "C"

#endif
