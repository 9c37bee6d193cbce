#ifndef TARNWICK_COMMON_PRINTF_FORMAT_H
#define TARNWICK_COMMON_PRINTF_FORMAT_H

// Checks the arguments of a printf-style function against its format. The
// Windows build formats with the C99 printf of its runtime (%zu and %lld
// included), so it is checked as such, not as Microsoft's.
#if defined(__MINGW32__)
#define TARNWICK_PRINTF_FORMAT(formatIndex, firstArg) __attribute__((format(gnu_printf, formatIndex, firstArg)))
#else
#define TARNWICK_PRINTF_FORMAT(formatIndex, firstArg) __attribute__((format(printf, formatIndex, firstArg)))
#endif

#endif
