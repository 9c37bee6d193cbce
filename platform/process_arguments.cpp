#include "platform/process_arguments.h"

namespace Platform {

std::vector<char*> ArgvOf(std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(&argument[0]);
    }
    argv.push_back(nullptr);
    return argv;
}

}  // namespace Platform
