// The package layout shared by every reader: whatever the bytes, a table that
// checks out names only images inside the file.
#include <cstdint>
#include <vector>

#include "common/fwpkg_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // An exact copy, so that any read past the package is caught.
    const std::vector<uint8_t> package(data, data + size);
    for (uint32_t limit : {0u, Common::FWPKG_MAX_IMAGE_COUNT}) {
        Common::FwpkgTable table;
        const Common::FwpkgCheck check =
            Common::CheckFwpkgTable(package.data(), package.size(), package.size(), limit, table);
        if (check == Common::FwpkgCheck::OK) {
            for (const Common::FileHead& entry : table.entries) {
                if (!Common::FwpkgEntryWithinFile(entry, package.size())) {
                    __builtin_trap();
                }
                volatile uint8_t last = entry.length > 0 ? package[entry.offset + entry.length - 1] : 0;
                (void)last;
                (void)Common::IsSafeFwpkgImageName(entry.Name());
            }
        }
    }
    // Shorter buffer than the file: the table must not be read past it.
    Common::FwpkgTable partial;
    (void)Common::CheckFwpkgTable(package.data(), package.size() / 2, package.size(), 0, partial);
    return 0;
}
