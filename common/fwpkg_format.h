#ifndef TARNWICK_COMMON_FWPKG_FORMAT_H
#define TARNWICK_COMMON_FWPKG_FORMAT_H

// The fwpkg package layout, shared by every package reader (the TypeSix job,
// the chip objects, the package tool). Pure functions over bytes in memory:
// no file access, no messages. Each reader prints its own messages and keeps
// its own rules (accepted flags, entry limit, loader first) on top.
//
// All numbers are little-endian. A package is a header, an entry table right
// behind it, and image data anywhere in the file:
//
//   header  normal 12 bytes / new 272 bytes
//     0  u32  flag      EFBEADDF normal; EFBEADD0..EFBEADFF (other) new
//     4  u16  crc       SopCrc16 of byte 6 up to the end of the entry table
//     6  u16  count     number of entries
//     8  ...  not interpreted
//   entry   normal 52 bytes / new 280 bytes (N = name field, 32 / 260)
//     0      N    image name, NUL padded (no NUL when it fills the field)
//     N      u32  offset of the image from the start of the file
//     N + 4  u32  length
//     N + 8  u32  burn address
//     N + 12 u32  burn size
//     N + 16 u32  image type

#include <cstdint>
#include <string>
#include <vector>

namespace Common {

constexpr uint32_t FWPKG_FLAG_NORMAL = 0xEFBEADDF;
constexpr uint32_t FWPKG_FLAG_NEW_START = 0xEFBEADD0;
constexpr uint32_t FWPKG_FLAG_NEW_END = 0xEFBEADFF;
// The TypeSix chip object's own reader takes new-layout flags only up to
// EFBEADDE: a package flagged EFBEADE0..EFBEADFF is listed by the job and the
// package tool but refused by the chip. The Vb27 chip object takes the normal
// flag alone.
constexpr uint32_t FWPKG_FLAG_NEW_END_TYPESIX_CHIP = 0xEFBEADDE;
// A count of 0xFFFF marks no valid package in either layout.
constexpr uint32_t FWPKG_COUNT_INVALID = 0xFFFF;
// The chip objects take fewer entries than this.
constexpr uint32_t FWPKG_MAX_IMAGE_COUNT = 256;

constexpr uint32_t FWPKG_FLAG_OFFSET = 0;
constexpr uint32_t FWPKG_CRC_OFFSET = 4;
constexpr uint32_t FWPKG_COUNT_OFFSET = 6;
// The CRC covers from the count field to the end of the entry table.
constexpr uint32_t FWPKG_CRC_START = 6;
// Flag, CRC and count: what must be read to know the rest.
constexpr uint32_t FWPKG_HEAD_PREFIX_LENGTH = 8;

enum class FwpkgLayout { NORMAL, NEW };

struct FwpkgLayoutInfo {
    FwpkgLayout layout;
    uint32_t headerLength;
    uint32_t entryLength;
    uint32_t nameLength;  // the five numbers of an entry follow the name
};

inline constexpr FwpkgLayoutInfo FWPKG_NORMAL_LAYOUT = {FwpkgLayout::NORMAL, 12, 52, 32};
inline constexpr FwpkgLayoutInfo FWPKG_NEW_LAYOUT = {FwpkgLayout::NEW, 272, 280, 260};

struct FwpkgHead {
    uint32_t flag = 0;
    uint16_t crc = 0;
    uint16_t count = 0;
};

// One package entry as the table stores it.
struct FileHead {
    std::string name;  // cut at the first NUL
    uint32_t offset = 0;
    uint32_t length = 0;
    uint32_t burnAddress = 0;
    uint32_t burnSize = 0;
    uint32_t type = 0;

    const std::string& Name() const { return name; }
};

// What a package check found; readers map each value to their own message.
enum class FwpkgCheck {
    OK,
    SHORT_HEAD,       // fewer than the 8 bytes of flag, CRC and count
    UNKNOWN_FLAG,     // flag of neither layout
    COUNT_INVALID,    // count 0xFFFF
    TOO_MANY_IMAGES,  // count at or above the reader's limit
    TABLE_PAST_END,   // the entry table reaches past the end of the file
    CRC_MISMATCH,     // table CRC differs from the stored one
    ENTRY_PAST_END,   // an entry's image reaches past the end of the file
};

struct FwpkgTable {
    FwpkgHead head;
    FwpkgLayoutInfo layout = FWPKG_NORMAL_LAYOUT;
    uint16_t computedCrc = 0;
    std::vector<FileHead> entries;
    // On ENTRY_PAST_END: the first entry at fault (also in entries).
    uint32_t badEntry = 0;
};

// Layout of a flag; false for a flag of neither layout.
bool GetFwpkgLayout(uint32_t flag, FwpkgLayoutInfo& layout);

// Flag, CRC and count; false when fewer than 8 bytes are given.
bool ReadFwpkgHead(const uint8_t* data, uint64_t length, FwpkgHead& head);

// Header plus count entries: the bytes a reader needs for the table and CRC.
uint64_t GetFwpkgTableLength(const FwpkgLayoutInfo& layout, uint32_t count);

// SopCrc16 of bytes 6 .. tableLength - 1 (0 when tableLength is 6 or less).
uint16_t CalcFwpkgCrc(const uint8_t* table, uint64_t tableLength);

// Entry index of a table of tableLength bytes; false when it lies outside.
bool ReadFwpkgEntry(const uint8_t* table, uint64_t tableLength, const FwpkgLayoutInfo& layout, uint32_t index,
                    FileHead& entry);

// True when offset + length lies within fileLength (no 32-bit wrap).
bool FwpkgEntryWithinFile(const FileHead& entry, uint64_t fileLength);

// True for a name that can be used as a file name inside a directory: not
// empty, no "/", no "\\", no "..".
bool IsSafeFwpkgImageName(const std::string& name);

// The whole check, in this order: prefix, flag, count 0xFFFF, count limit
// (maxCount: entries must be fewer; 0 means no limit besides 0xFFFF), table
// within the file, CRC, every image within the file. data holds the first
// available bytes of a file of fileLength bytes; available must cover the
// table (a shorter buffer counts as TABLE_PAST_END). Entries are filled as
// soon as the table has been read, so a reader can name the entry at fault.
FwpkgCheck CheckFwpkgTable(const uint8_t* data, uint64_t available, uint64_t fileLength, uint32_t maxCount,
                           FwpkgTable& table);

// --- writing -----------------------------------------------------------------
// For tools that build packages; the readers above never write.

// Header and entry table for entries under flag, CRC stored; image data goes
// wherever the entries' offsets put it. False, with table cleared, for a flag
// of neither layout, a count of 0xFFFF or more, or a name longer than the
// layout's name field (a name that fills the field is stored without a NUL).
bool BuildFwpkgTable(uint32_t flag, const std::vector<FileHead>& entries, std::vector<uint8_t>& table);

}  // namespace Common

#endif
