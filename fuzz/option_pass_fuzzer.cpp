// The option pass of the front end: the input, cut at its NUL bytes, is the
// argument list after "tarnwickcmd --burn".
#include <cstdint>
#include <string>
#include <vector>

#include "cli/front_end.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzSupport::QuietConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> arguments = {"tarnwickcmd", "--burn"};
    if (size > 0) {
        for (std::string& piece : FuzzSupport::SplitAtNul(data, size)) {
            arguments.push_back(std::move(piece));
        }
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const int argc = static_cast<int>(arguments.size());
    BurnInfo::BurnContext context(FuzzSupport::ScratchDir());
    FrontEnd::ParseConfigParam(argc, argv.data(), &context);
    if (FrontEnd::ParseExtraParam(argc, argv.data(), &context)) {
        (void)context.CheckBurnParameters();
    }
    return 0;
}
