#include "common/secure_functions.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/hot_path.h"

namespace {

bool CapacityInRange(size_t destMax)
{
    return destMax != 0 && destMax <= SECUREC_MAX_LEN;
}

// True when [a, a + aLen) and [b, b + bLen) share a byte.
bool RangesOverlap(const void* a, size_t aLen, const void* b, size_t bLen)
{
    uintptr_t pa = reinterpret_cast<uintptr_t>(a);
    uintptr_t pb = reinterpret_cast<uintptr_t>(b);
    return (pa < pb && pb - pa < aLen) || (pb < pa && pa - pb < bLen) || (pa == pb && aLen != 0 && bLen != 0);
}

// The first checks of every memory and string function: the capacity, then
// the destination.
int CheckDestination(const void* dest, size_t destMax)
{
    if (!CapacityInRange(destMax)) {
        return SECUREC_ERANGE;
    }
    if (dest == nullptr) {
        return SECUREC_EINVAL;
    }
    return SECUREC_EOK;
}

// Checks shared by memcpy_s and memmove_s; a refused source or count clears
// the destination.
int CheckCopy(void* dest, size_t destMax, const void* src, size_t count)
{
    int result = CheckDestination(dest, destMax);
    if (result != SECUREC_EOK) {
        return result;
    }
    if (src == nullptr) {
        std::memset(dest, 0, destMax);
        return SECUREC_EINVAL_AND_RESET;
    }
    if (count > destMax) {
        std::memset(dest, 0, destMax);
        return SECUREC_ERANGE_AND_RESET;
    }
    return SECUREC_EOK;
}

int StrncpyError(char* dest, int code)
{
    dest[0] = '\0';
    return code;
}

} // namespace

HOT_PATH int memcpy_s(void* dest, size_t destMax, const void* src, size_t count)
{
    if (count <= destMax && destMax <= SECUREC_MAX_LEN && dest != nullptr && src != nullptr && count > 0 &&
        !RangesOverlap(dest, count, src, count)) {
        std::memcpy(dest, src, count);
        return SECUREC_EOK;
    }
    int result = CheckCopy(dest, destMax, src, count);
    if (result != SECUREC_EOK) {
        return result;
    }
    if (dest != src && RangesOverlap(dest, count, src, count)) {
        std::memset(dest, 0, destMax);
        return SECUREC_EOVERLAP_AND_RESET;
    }
    return SECUREC_EOK; // count 0, or dest == src: nothing to copy
}

int memmove_s(void* dest, size_t destMax, const void* src, size_t count)
{
    int result = CheckCopy(dest, destMax, src, count);
    if (result != SECUREC_EOK) {
        return result;
    }
    if (dest != src && count > 0) {
        std::memmove(dest, src, count);
    }
    return SECUREC_EOK;
}

int memset_s(void* dest, size_t destMax, int c, size_t count)
{
    if (count <= destMax && destMax <= SECUREC_MAX_LEN && dest != nullptr) {
        std::memset(dest, c, count);
        return SECUREC_EOK;
    }
    int result = CheckDestination(dest, destMax);
    if (result != SECUREC_EOK) {
        return result;
    }
    std::memset(dest, c, destMax); // count > destMax: fill what there is
    return SECUREC_ERANGE_AND_RESET;
}

int strncpy_s(char* dest, size_t destMax, const char* src, size_t count)
{
    int result = CheckDestination(dest, destMax);
    if (result != SECUREC_EOK) {
        return result;
    }
    if (src == nullptr) {
        return StrncpyError(dest, SECUREC_EINVAL_AND_RESET);
    }
    const bool asMuchAsFits = (count == SIZE_MAX);
    if (count > SECUREC_MAX_LEN && !asMuchAsFits) {
        return StrncpyError(dest, SECUREC_ERANGE_AND_RESET);
    }
    if (count == 0) {
        dest[0] = '\0';
        return SECUREC_EOK;
    }

    size_t length = 0;
    if (asMuchAsFits) {
        length = strnlen(src, destMax - 1);
    } else if (count < destMax) {
        length = strnlen(src, count);
    } else {
        length = strnlen(src, destMax);
        if (length >= destMax) { // text and terminator do not fit
            return StrncpyError(dest, SECUREC_ERANGE_AND_RESET);
        }
    }
    if (dest != src && RangesOverlap(dest, length + 1, src, length + 1)) {
        return StrncpyError(dest, SECUREC_EOVERLAP_AND_RESET);
    }
    if (dest != src) {
        std::memcpy(dest, src, length);
    }
    dest[length] = '\0';
    return SECUREC_EOK;
}

int vsprintf_s(char* dest, size_t destMax, const char* format, va_list args)
{
    if (dest == nullptr || !CapacityInRange(destMax)) {
        return -1;
    }
    if (format == nullptr) {
        dest[0] = '\0';
        return -1;
    }
    int written = std::vsnprintf(dest, destMax, format, args);
    if (written < 0 || static_cast<size_t>(written) >= destMax) {
        dest[0] = '\0'; // a cut text is worse than none
        return -1;
    }
    return written;
}

int sprintf_s(char* dest, size_t destMax, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int result = vsprintf_s(dest, destMax, format, args);
    va_end(args);
    return result;
}
