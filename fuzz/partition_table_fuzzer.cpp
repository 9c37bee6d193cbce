// The XML partition table through ParseBurnFile. The first byte picks the
// chip type, so the TypeSix rewrite of the rows is reached as well.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "settings/burn_context.h"

namespace {
constexpr int CHIP_TYPES[] = {0x30004, 0x30002, 0x30005, 0x60001};
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzSupport::QuietConsole();
    // Files a table may name, so that rows can resolve to real images.
    static const uint8_t image[] = {1, 2, 3, 4};
    FuzzSupport::WriteScratch("tables/a.bin", image, sizeof(image));
    FuzzSupport::WriteScratch("tables/a_sha256.bin", image, sizeof(image));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    const std::string table = FuzzSupport::WriteScratch("tables/table.xml", data + 1, size - 1);
    BurnInfo::BurnContext context(FuzzSupport::ScratchDir());
    context.SetChipType(CHIP_TYPES[data[0] % (sizeof(CHIP_TYPES) / sizeof(CHIP_TYPES[0]))]);
    context.SetFilePath(table);
    if (context.ParseBurnFile()) {
        (void)context.GetFilePath(BurnInfo::FLASH_BIN_TYPE);
        (void)context.GetFilePath(BurnInfo::EMMC_BIN_TYPE);
    }
    return 0;
}
