// burn.config as the installation holds it, then the parameter check.
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
    FuzzSupport::WriteScratch("config/burn.config", data, size);
    BurnInfo::BurnContext context(FuzzSupport::ScratchDir());
    if (context.LoadBurnConfig()) {
        (void)context.CheckBurnParameters();
    }
    return 0;
}
