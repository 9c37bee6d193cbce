// fwpkg packages for tests, written byte by byte from the layout tables (not
// with the parser under test): header, entry table, then the images in order.
// All numbers little-endian; the CRC covers bytes 6 to the end of the table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_files.h"

namespace TestSupport {

constexpr uint32_t NORMAL_HEADER = 12;
constexpr uint32_t NORMAL_ENTRY = 52;
constexpr uint32_t NORMAL_NAME = 32;
constexpr uint32_t NEW_HEADER = 272;
constexpr uint32_t NEW_ENTRY = 280;
constexpr uint32_t NEW_NAME = 260;
constexpr uint32_t NORMAL_FLAG = 0xEFBEADDF;

// Offsets of the fields behind an entry's name.
constexpr uint32_t FIELD_OFFSET = 0;
constexpr uint32_t FIELD_LENGTH = 4;
constexpr uint32_t FIELD_ADDRESS = 8;
constexpr uint32_t FIELD_SIZE = 12;
constexpr uint32_t FIELD_TYPE = 16;

struct PackageImage {
    std::string name;
    uint32_t type = 1;
    uint32_t burnAddress = 0;
    uint32_t burnSize = 0;
    Bytes data;
};

// Position of a field of entry i.
size_t FieldAt(bool newLayout, size_t entry, uint32_t field);
// Stores the CRC for the count in the header (after a test changed the table).
void SealPackage(Bytes& package);
// A package of the normal layout.
Bytes BuildPackage(const std::vector<PackageImage>& images);

}  // namespace TestSupport
