// The burn job's package listing and unpacking: a listed package names only
// images inside the file, and unpacking writes nowhere but the extract directory.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "jobs/fwpkg.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzSupport::QuietConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string package = FuzzSupport::WriteScratch("pkg/image.fwpkg", data, size);
    std::vector<BurnInfo::FwpkgBinInfo> list;
    if (!FwpkgSp::ParseFwpkgFile(package, list).Ok()) {
        return 0;
    }
    for (const BurnInfo::FwpkgBinInfo& entry : list) {
        if (uint64_t{entry.offset} + entry.length > size) {
            __builtin_trap();
        }
    }
    std::vector<BurnInfo::FwpkgBinInfo> some = list;
    FwpkgSp::FilterByOnlyBurn(some, {list.empty() ? std::string("x") : list.front().imageName},
                              *Common::FamilyByKey("typesix"));

    const std::string extractDir = FwpkgSp::GetExtractDir(package);
    FwpkgSp::CreateExtractDir(extractDir);
    (void)FwpkgSp::UnpackFwpkgImages(package, list, extractDir);
    // Only the package and its extract directory may exist in pkg/.
    std::error_code error;
    for (const auto& item : std::filesystem::directory_iterator(FuzzSupport::ScratchDir() + "pkg", error)) {
        const std::string name = item.path().filename().string();
        if (name != "image.fwpkg" && name != "image_extract") {
            __builtin_trap();
        }
    }
    if (std::filesystem::exists(FuzzSupport::ScratchDir() + "outside", error)) {
        __builtin_trap();
    }
    std::filesystem::remove_all(extractDir, error);
    return 0;
}
