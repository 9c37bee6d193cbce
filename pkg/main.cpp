#include <iostream>
#include <string>
#include <vector>

#include "pkg/package_command_line.h"
#include "platform/process_arguments.h"

int main(int argc, char** argv)
{
    Platform::UseUtf8Console();
    std::vector<std::string> arguments = Platform::Utf8Arguments(argc, argv);
    arguments.erase(arguments.begin(), arguments.begin() + (argc > 0 ? 1 : 0));
    const int result = PackageToolSp::RunPackageTool(arguments, std::cout, std::cerr);
    std::cout.flush();
    return result;
}
