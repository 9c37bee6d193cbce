#include "platform/process_paths.h"

#include <unistd.h>

#include <vector>

namespace Platform {

std::string ExecutableDirectory()
{
    // readlink does not say whether it truncated; grow until the result fits.
    std::vector<char> buffer(256);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) {
            return std::string();
        }
        if (static_cast<size_t>(n) < buffer.size()) {
            std::string path(buffer.data(), static_cast<size_t>(n));
            size_t slash = path.find_last_of('/');
            if (slash == std::string::npos) {
                return std::string();
            }
            return path.substr(0, slash + 1);
        }
        if (buffer.size() >= (1u << 20)) {
            return std::string();
        }
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace Platform
