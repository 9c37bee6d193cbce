#include <iostream>
#include <string>
#include <vector>

#include "pkg/package_command_line.h"

int main(int argc, char** argv)
{
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const int result = PackageToolSp::RunPackageTool(arguments, std::cout, std::cerr);
    std::cout.flush();
    return result;
}
