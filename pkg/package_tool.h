// tarnwick-pkg: look inside fwpkg packages, unpack them, build them and ask
// whether tarnwickcmd would take one, with the same package code the burn jobs
// and chip objects use. Each command writes its report to out and returns the
// process exit code.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "common/chip_family.h"
#include "common/fwpkg_format.h"

namespace PackageToolSp {

// Exit codes of every command.
constexpr int EXIT_OK = 0;
constexpr int EXIT_REFUSED = 1;  // not a package the tool would take, or the command failed
constexpr int EXIT_USAGE = 2;    // the command line itself is wrong

// Whose reading of the image types (and, for verify, whose rules) to use: a
// family of the table, or null for every reader at once.
using Family = const Common::ChipFamily*;

// What the family's burn does with an entry of this type. Null gives the
// Vb27 and TypeSix readings side by side.
std::string ImageTypeMeaning(uint32_t type, Family family);

// One --entry of pack: name:type:address:size:file (the file may hold ":").
struct PackEntry {
    std::string name;
    uint32_t type = 0;
    uint32_t burnAddress = 0;
    uint32_t burnSize = 0;
    std::string file;
};

// "0x" hexadecimal or decimal with an optional k, m or g multiplier, up to
// 0xFFFFFFFF; false for anything else.
bool ParseNumber32(const std::string& text, uint32_t& value);
bool ParsePackEntry(const std::string& text, PackEntry& entry, std::string& error);

// Header, table and one row per entry, then a warning for a CRC that does not
// match, an image that reaches past the end of the file and images that share
// bytes. EXIT_OK whenever the table could be read.
int Info(const std::string& package, Family family, std::ostream& out);

// Unpacks every image into dir (created when missing) under its own name, each
// with its SHA-256 digest file, as the TypeSix job does. A package the job
// would refuse, or whose image names are unsafe or repeated, is refused before
// anything is written.
int Extract(const std::string& package, const std::string& dir, std::ostream& out);

// Writes a package: header, table and CRC, then the images in entry order.
// The file appears whole or not at all.
int Pack(const std::string& output, const std::vector<PackEntry>& entries, Common::FwpkgLayout layout,
         std::ostream& out);

// EXIT_OK when the family's reader takes the package; otherwise the reason and
// EXIT_REFUSED. ANY applies the checks every reader makes (layout, count,
// table, CRC, images inside the file, plain image names).
int Verify(const std::string& package, Family family, std::ostream& out);

}  // namespace PackageToolSp
