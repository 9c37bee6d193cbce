// A chip property file of the installation.
#include <cstdint>

#include "fuzz_support.h"
#include "settings/burn_context.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzSupport::QuietConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzSupport::WriteScratch("ChipProperties/fuzzchip.txt", data, size);
    BurnInfo::BurnContext context(FuzzSupport::ScratchDir());
    context.SetChipName("fuzzchip");
    (void)context.LoadChipProperties();
    return 0;
}
