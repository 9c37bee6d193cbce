#include "jobs/port_access_hint.h"

#include <cstdio>

#include "device/device_library.h"
#include "platform/port_access_hint.h"

namespace Jobs {

void PrintPortAccessHint(const std::string& port)
{
    const std::string hint = Platform::PortAccessHint(port, GetLastOpenError());
    if (!hint.empty()) {
        std::printf("%s", hint.c_str());
        std::fflush(stdout);
    }
}

}  // namespace Jobs
