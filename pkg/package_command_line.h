// Command line of tarnwick-pkg: the sub-command, its operands and options.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace PackageToolSp {

// arguments excludes the program name; the result is the exit code.
int RunPackageTool(const std::vector<std::string>& arguments, std::ostream& out);

std::string Usage();

}  // namespace PackageToolSp
