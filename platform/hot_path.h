#ifndef TARNWICK_PLATFORM_HOT_PATH_H
#define TARNWICK_PLATFORM_HOT_PATH_H

// HOT_PATH marks a function that every frame of a transfer runs. The compiler
// lays such functions out side by side: after each wait for the board, which
// on a slow line is long enough for the caches to go cold, a frame then
// touches a few code pages instead of one per source file it passes through.
//
// HOT_PATH_WITH_CALLEES is for a frame function that calls a template of the
// standard library: the template's code is compiled into the function, so it
// lies with the other frame functions instead of in a page of its own among
// the cold code.
#if defined(__GNUC__)
#define HOT_PATH __attribute__((hot))
#define HOT_PATH_WITH_CALLEES __attribute__((hot, flatten))
#else
#define HOT_PATH
#define HOT_PATH_WITH_CALLEES
#endif

#endif
