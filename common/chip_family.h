// The chip families this tool serves: one row per chip type it knows, and one
// row for every other chip type of the connection-chip department. Every fact
// that differs between families is a column of its row, read from here by the
// job factory, the device library, the transfer operations, the partition
// table, the package tool and the run report. A row names no class of a
// higher layer: it carries small enums, and each layer maps an enum to its own
// classes in one place. The rows themselves are in chip_family.cpp.
#pragma once

#include <cstdint>
#include <string>

namespace Common {

// Boot ROMs and loaders answer at this rate; every run opens its line at it,
// and a TypeSix reset returns the line to it.
inline constexpr uint32_t BOOT_BAUD_RATE = 115200;

// A chip type carries its department in bits 16 to 23; only this department is served.
inline constexpr int CONNECTION_DEPARTMENT = 3;
constexpr int DepartmentOf(int chipType)
{
    return (chipType >> 16) & 0xFF;
}

// Which burn job runs the family.
enum class FamilyJob { VB27, QN4180, TYPESIX, CONNECTION };
// Which chip object the device library makes for it; NONE: opening the board fails.
enum class FamilyChip { NONE, VB27, QN4180, TYPESIX };
// Whose reading of package image types (and of partition table file types) applies.
enum class ImageReading { NONE, VB27, TYPESIX };
// Which checks a package must pass before the board is touched.
enum class PackageCheck {
    NONE,
    LOADER_FIRST,  // normal layout, CRC, fewer than 256 images, the loader first, every image inside the file
    LISTING,       // either layout, CRC, every image inside the file, plain image names
};
// How a "-onlyburn:" name selects images: users rely on both.
enum class OnlyBurnMatch {
    CONTAINS,                 // every image whose name contains the text (case counts)
    SAME_NAME_IGNORING_CASE,  // only the image of exactly that name, ignoring case
};
// What --erase does.
enum class EraseMeaning { NOT_OFFERED, WHOLE_FLASH_AFTER_PACKAGE_LOADER };
// What --read does.
enum class ReadMeaning { NOT_OFFERED, FLASH_AFTER_PACKAGE_LOADER };
// What a burn check (-c) does.
enum class BurnCheckMeaning {
    NONE,
    SINGLE_IMAGE_READ_BACK,  // the one image read back through a file and compared
    PACKAGE_READ_BACK,       // every image kept in flash read back into memory and compared, before any reset
    BOARD_DIGEST,            // the board checks each image's digest itself: nothing more goes on the line
};
// Which protocol carries the device library's file transfers (DownloadToFlash, UploadFile).
enum class TransferProtocol { NONE, TYPESIX_SERIAL };

struct ChipFamily {
    int chipType;      // 0 in the row of every other type of the department
    const char* name;  // as reports name it: "Vb27"
    const char* key;   // as tarnwick-pkg --family takes it: "vb27"; empty when it takes none
    FamilyJob job;
    FamilyChip chip;
    uint32_t bootRate;
    ImageReading images;
    PackageCheck packageCheck;
    OnlyBurnMatch onlyBurn;
    EraseMeaning erase;
    ReadMeaning read;
    BurnCheckMeaning burnCheck;
    TransferProtocol transfers;
};

// The row of a chip type; any type without a row of its own gets the
// connection row (its department is checked by whoever builds the job).
const ChipFamily& FamilyOf(int chipType);
// The row whose key this is; null for none.
const ChipFamily* FamilyByKey(const std::string& key);
// Every row with a key, for listing them.
const ChipFamily* const* FamiliesWithKey(size_t& count);
// The family's name for reports, empty for chip type 0 (no chip chosen).
const char* FamilyName(int chipType);

// Whether the "-onlyburn:" text given selects the image of this name.
bool OnlyBurnSelects(const ChipFamily& family, const std::string& imageName, const std::string& given);

// --- package image types, as the Vb27 and Qn4180 chip object reads them --------------
// The first entry must be the loader, which goes out right after the
// handshake; every other image is announced by a command frame chosen by its
// type; type 16 is never sent.
inline constexpr uint32_t VB27_IMAGE_LOADER = 0;
inline constexpr uint32_t VB27_IMAGE_NV_KV = 2;
inline constexpr uint32_t VB27_IMAGE_OTP = 3;
inline constexpr uint32_t VB27_IMAGE_EFUSE = 4;
inline constexpr uint32_t VB27_IMAGE_FACTORY = 6;
inline constexpr uint32_t VB27_IMAGE_VERSION = 7;
inline constexpr uint32_t VB27_IMAGE_ROM_FORMAT = 14;
inline constexpr uint32_t VB27_IMAGE_EMMC_FORMAT = 15;
inline constexpr uint32_t VB27_IMAGE_SKIPPED = 16;

enum class Vb27ImageCommand { NONE, VERSION, FACTORY, NV_KV, OTP_EFUSE, FLASH_IMAGE, NOT_SENT };
// Format of a flash image, carried in its command frame.
enum class Vb27ImageFormat { NORMAL, ROM, EMMC };

Vb27ImageCommand Vb27CommandForImageType(uint32_t type);
Vb27ImageFormat Vb27FormatForImageType(uint32_t type);
// Whether the board keeps the image in its flash at its burn address byte
// for byte as it was sent, so that the burn check can read it back: flash
// images of the normal format, NV/KV and factory images. The loader runs
// from RAM, version and OTP/eFuse data do not go to flash, and the board lays
// ROM- and eMMC-format images out in a format of its own (eMMC ones not even
// in the flash the upload command reads).
bool Vb27ImageKeptInFlash(uint32_t type);

// --- package image types, as the TypeSix job and chip object read them ---------------
// Type 0 is the loader (the ssb); the digests and the small ssb are read by
// the chip object's whole-package path and never burned as images.
inline constexpr uint32_t TYPESIX_IMAGE_SSB = 0;
inline constexpr uint32_t TYPESIX_IMAGE_NOT_BURNED = 16;
inline constexpr uint32_t TYPESIX_IMAGE_SSB_DIGEST = 24;
inline constexpr uint32_t TYPESIX_IMAGE_SMALL_SSB = 28;
inline constexpr uint32_t TYPESIX_IMAGE_SMALL_SSB_DIGEST = 29;
inline constexpr uint32_t TYPESIX_IMAGE_FLASH = 100;
inline constexpr uint32_t TYPESIX_IMAGE_EMMC = 101;
// Digest of the type 100/101 image whose name contains this entry's name.
inline constexpr uint32_t TYPESIX_IMAGE_DIGEST = 102;

// File types (the TypeSix serial protocol's transfer parameter) that also
// name the partition table rows of flash and eMMC images.
inline constexpr int TYPESIX_FILE_FLASH_BIN = 100;
inline constexpr int TYPESIX_FILE_EMMC_BIN = 101;

// The file type per image type differs between the two TypeSix paths on
// purpose: the job burns unpacked images one at a time and must name a file
// type for each, so a type it does not list is skipped; the chip object's
// whole-package path (and the partition table) streams every image in order
// and lets a type it does not list go out with the file type set last. File
// type 1 is image type 11 for the job and image type 22 for the chip path.
// The job's file type; false: the job skips the image.
bool TypeSixJobFileType(uint32_t imageType, int& fileType);
// The chip path's file type; false: the image keeps the file type set last.
bool TypeSixChipFileType(uint32_t imageType, int& fileType);
// Entries the job hands to image burning: all but the loader and the types
// that are only unpacked (16, 28, 29).
bool TypeSixJobBurnsAsImage(uint32_t imageType);

}  // namespace Common
