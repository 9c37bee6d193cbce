// The command line as UTF-8 texts and a console that shows UTF-8: Windows
// hands main its arguments in the ANSI code page, which cannot hold every
// file name.
#pragma once

#include <string>
#include <vector>

namespace Platform {

// argv[0..argc) in UTF-8 (on Windows read again from the wide command line).
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Makes the console show UTF-8 output as text; nothing to do on POSIX.
void UseUtf8Console();

// The same arguments as a null-terminated argv for a main-like function;
// the pointers stay valid while arguments lives.
std::vector<char*> ArgvOf(std::vector<std::string>& arguments);

}  // namespace Platform
