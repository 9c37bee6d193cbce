// The Vb27 chip object's package check, run on the whole package held in
// memory before anything is sent.
#include <cstdint>
#include <vector>

#include "common/fwpkg_format.h"
#include "device/burn_vb27_chip.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzSupport::QuietConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0xFFFFFFFFu) {
        return 0;
    }
    const std::vector<uint8_t> package(data, data + size);
    BurnVb27ChipSp::BurnVb27Chip chip;
    if (chip.CheckFwpkgHeadData(package.data(), static_cast<uint32_t>(package.size()))) {
        // Accepted: every image the burn will send lies inside the package.
        Common::FwpkgTable table;
        if (Common::CheckFwpkgTable(package.data(), package.size(), package.size(), 0, table) !=
            Common::FwpkgCheck::OK) {
            __builtin_trap();
        }
    }
    return 0;
}
