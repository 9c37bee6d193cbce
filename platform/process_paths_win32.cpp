#include "platform/process_paths.h"

#include <windows.h>

#include <vector>

#include "platform/text_win32.h"

namespace Platform {

std::string ExecutableDirectory()
{
    // The name may be longer than MAX_PATH; grow until it is not cut.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) {
            return std::string();
        }
        if (n < buffer.size()) {
            std::string path = NarrowToUtf8(std::wstring(buffer.data(), n));
            size_t cut = path.find_last_of('\\');
            if (cut == std::string::npos) {
                cut = path.find_last_of('/');
            }
            return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
        }
        if (buffer.size() >= 32768) {
            return std::string();
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace Platform
