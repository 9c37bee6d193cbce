#ifndef TARNWICK_PLATFORM_PROCESS_PATHS_H
#define TARNWICK_PLATFORM_PROCESS_PATHS_H

#include <string>

namespace Platform {

// Directory of the running executable (symlinks resolved), in UTF-8, ending
// with its separator ("/", or "\\" on Windows).
// Empty when it cannot be determined.
std::string ExecutableDirectory();

} // namespace Platform

#endif
