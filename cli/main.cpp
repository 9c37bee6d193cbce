#include "cli/front_end.h"
#include "platform/process_arguments.h"

int main(int argc, char** argv)
{
    Platform::UseUtf8Console();
    std::vector<std::string> arguments = Platform::Utf8Arguments(argc, argv);
    std::vector<char*> utf8Argv = Platform::ArgvOf(arguments);
    return FrontEnd::RunFrontEnd(static_cast<int>(arguments.size()), utf8Argv.data());
}
