#include "platform/process_arguments.h"

namespace Platform {

std::vector<std::string> Utf8Arguments(int argc, char** argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

void UseUtf8Console()
{
}

}  // namespace Platform
