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

// Entries of a package held whole in memory, for a reader that has checked
// it already. Empty unless the table and every image lie inside the file, so
// that entry offsets can be used as pointers into the buffer.
std::vector<FileHead> ReadFwpkgEntries(const uint8_t* package, uint64_t fileLength);

// --- image types ---------------------------------------------------------------
// The image type of an entry means something different to each reader; every
// reader and the package tool look the meaning up here.

// Vb27 and Qn4180 chip object. The first entry must be the loader, which goes
// out right after the handshake; every other image is announced by a command
// frame chosen by its type; type 16 is never sent.
constexpr uint32_t VB27_IMAGE_LOADER = 0;
constexpr uint32_t VB27_IMAGE_NV_KV = 2;
constexpr uint32_t VB27_IMAGE_OTP = 3;
constexpr uint32_t VB27_IMAGE_EFUSE = 4;
constexpr uint32_t VB27_IMAGE_FACTORY = 6;
constexpr uint32_t VB27_IMAGE_VERSION = 7;
constexpr uint32_t VB27_IMAGE_ROM_FORMAT = 14;
constexpr uint32_t VB27_IMAGE_EMMC_FORMAT = 15;
constexpr uint32_t VB27_IMAGE_SKIPPED = 16;

enum class Vb27ImageCommand { NONE, VERSION, FACTORY, NV_KV, OTP_EFUSE, FLASH_IMAGE, NOT_SENT };
// Format of a flash image, carried in its command frame.
enum class Vb27ImageFormat { NORMAL, ROM, EMMC };

Vb27ImageCommand Vb27CommandForImageType(uint32_t type);
Vb27ImageFormat Vb27FormatForImageType(uint32_t type);

// TypeSix. Type 0 is the loader (the ssb); the digests and the small ssb are
// read by the chip object's whole-package path and never burned as images.
constexpr uint32_t TYPESIX_IMAGE_SSB = 0;
constexpr uint32_t TYPESIX_IMAGE_NOT_BURNED = 16;
constexpr uint32_t TYPESIX_IMAGE_SSB_DIGEST = 24;
constexpr uint32_t TYPESIX_IMAGE_SMALL_SSB = 28;
constexpr uint32_t TYPESIX_IMAGE_SMALL_SSB_DIGEST = 29;
constexpr uint32_t TYPESIX_IMAGE_FLASH = 100;
constexpr uint32_t TYPESIX_IMAGE_EMMC = 101;
// Digest of the type 100/101 image whose name contains this entry's name.
constexpr uint32_t TYPESIX_IMAGE_DIGEST = 102;

// File type (the TypeSix serial protocol's transfer parameter) per image type,
// for the two TypeSix paths side by side. They differ on purpose, they are not
// copies gone astray: the job burns unpacked images one at a time and must name
// a file type for each, so a type it does not list is skipped; the chip
// object's whole-package path streams every image in order and lets a type it
// does not list go out with the file type set last. File type 1 is image type
// 11 for the job and image type 22 for the chip path.
// File types that also name the partition table rows of flash and eMMC images.
constexpr int TYPESIX_FILE_FLASH_BIN = 100;
constexpr int TYPESIX_FILE_EMMC_BIN = 101;
constexpr int TYPESIX_NO_FILE_TYPE = -1;  // job: skipped; chip path: file type set last
struct TypeSixFileTypeRow {
    uint32_t imageType;
    int job;
    int chip;
};
inline constexpr TypeSixFileTypeRow TYPESIX_FILE_TYPES[] = {
    // {image type, job, chip path}
    {18, 2, 2},
    {20, 0, 0},
    {11, 1, TYPESIX_NO_FILE_TYPE},
    {22, TYPESIX_NO_FILE_TYPE, 1},
    {26, 4, 4},
    {TYPESIX_IMAGE_FLASH, TYPESIX_FILE_FLASH_BIN, TYPESIX_FILE_FLASH_BIN},
    {TYPESIX_IMAGE_EMMC, TYPESIX_FILE_EMMC_BIN, TYPESIX_FILE_EMMC_BIN},
    {4, 4, TYPESIX_NO_FILE_TYPE},
    {104, 104, TYPESIX_NO_FILE_TYPE},
};

// The job's file type; false: the job skips the image.
bool TypeSixJobFileType(uint32_t imageType, int& fileType);
// The chip path's file type; false: the image keeps the file type set last.
bool TypeSixChipFileType(uint32_t imageType, int& fileType);
// Entries the job hands to image burning: all but the loader and the types
// that are only unpacked (16, 28, 29).
bool TypeSixJobBurnsAsImage(uint32_t imageType);

// --- writing -----------------------------------------------------------------
// For tools that build packages; the readers above never write.

// Header and entry table for entries under flag, CRC stored; image data goes
// wherever the entries' offsets put it. False, with table cleared, for a flag
// of neither layout, a count of 0xFFFF or more, or a name longer than the
// layout's name field (a name that fills the field is stored without a NUL).
bool BuildFwpkgTable(uint32_t flag, const std::vector<FileHead>& entries, std::vector<uint8_t>& table);

}  // namespace Common

#endif
