#include "platform/port_access_hint.h"

#include <cerrno>

namespace Platform {

std::string PortAccessHint(const std::string& port, int error)
{
    // Windows opens a COM port for one program at a time and answers
    // "access denied" to the second.
    if (error != EACCES && error != EBUSY) {
        return "";
    }
    return "hint: " + port +
           " is in use by another program (a terminal, another burn tool or a second tarnwickcmd); close it and "
           "try again.\n";
}

}  // namespace Platform
