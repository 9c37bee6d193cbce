// The burn job's side of fwpkg packages: listing the entries, selecting them
// by "-onlyburn:" names, unpacking the images into the extract directory with
// a SHA-256 digest file beside each. The layout itself lives in
// common/fwpkg_format.h, shared with the chip objects.
//
// The listing refuses, before anything is unpacked or sent, a package whose
// entry table is cut short, whose header CRC does not match, whose images
// reach past the end of the file, or whose image names could leave the
// extract directory (empty, "/", "\\" or "..").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/chip_family.h"
#include "common/outcome.h"

namespace BurnInfo {

// One package entry as the burn job lists it.
struct FwpkgBinInfo {
    std::string filePath;  // the package after listing; the unpacked image before burning
    std::string extraInfo;
    std::string imageName;
    uint32_t offset = 0;
    uint32_t length = 0;
    uint32_t burnAddress = 0;
    uint32_t burnSize = 0;
    uint32_t imageType = 0;
};

}  // namespace BurnInfo

namespace FwpkgSp {

// Appends one entry per package entry, in table order. A refusal is the
// failure to print, with the message the job prints.
Common::Outcome ParseFwpkgFile(const std::string& path, std::vector<BurnInfo::FwpkgBinInfo>& out);

// Keeps, in order, the entries that one of the names selects by the family's
// rule; no names keeps all. Always true.
bool FilterByOnlyBurn(std::vector<BurnInfo::FwpkgBinInfo>& list, const std::vector<std::string>& onlyBurnNames,
                      const Common::ChipFamily& family);

// Copies length bytes from offset of the package into a new file at output.
// A package that ends before offset + length is refused and no output is left.
Common::Outcome ExtractBinFromFwpkg(const std::string& package, const std::string& output, unsigned int offset,
                                    unsigned int length);

// The image path with "_sha256" before its last "." (or appended).
std::string GetSha256FilePath(const std::string& path);

// Writes the 32-byte SHA-256 digest of the file at path to its digest path.
bool CreateSha256File(const std::string& path);

// Up to and including the last "/" (else the last "\\"); empty without one.
std::string GetParentDir(const std::string& path);

// The file name without directories and without its last extension.
std::string GetBaseNameWithoutExt(const std::string& path);

// The directory beside the package that receives its images:
// parent + base name + "_extract/".
std::string GetExtractDir(const std::string& package);

// Creates the extract directory; one that exists already is fine.
void CreateExtractDir(const std::string& dir);

// Unpacks every entry of the list into extractDir (image name as file name)
// with its digest file; the failure names the image it stopped at.
Common::Outcome UnpackFwpkgImages(const std::string& package, const std::vector<BurnInfo::FwpkgBinInfo>& list,
                                  const std::string& extractDir);

}  // namespace FwpkgSp
