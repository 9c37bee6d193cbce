// Command line of tarnwick-pkg: the sub-command, its operands and options.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace PackageToolSp {

// arguments excludes the program name; reports go to out, a wrong command
// line to err. The result is the exit code.
int RunPackageTool(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace PackageToolSp
