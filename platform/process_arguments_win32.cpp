#include "platform/process_arguments.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/text_win32.h"

namespace Platform {

std::vector<std::string> Utf8Arguments(int argc, char** argv)
{
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr || count != argc) {
        // Not the command line main was given: keep what it was given.
        if (wide != nullptr) {
            LocalFree(wide);
        }
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) {
        arguments.push_back(NarrowToUtf8(wide[i]));
    }
    LocalFree(wide);
    return arguments;
}

void UseUtf8Console()
{
    SetConsoleOutputCP(CP_UTF8);
}

}  // namespace Platform
