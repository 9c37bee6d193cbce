#include "common/chip_family.h"

#include <cctype>
#include <iterator>

namespace Common {

namespace {

constexpr ChipFamily VB27 = {
    0x30004, "Vb27", "vb27", FamilyJob::VB27, FamilyChip::VB27, BOOT_BAUD_RATE,
    ImageReading::VB27, PackageCheck::LOADER_FIRST, OnlyBurnMatch::CONTAINS,
    EraseMeaning::WHOLE_FLASH_AFTER_PACKAGE_LOADER, ReadMeaning::FLASH_AFTER_PACKAGE_LOADER,
    BurnCheckMeaning::PACKAGE_READ_BACK, TransferProtocol::NONE,
};
// The Vb27 job and exchanges; the chip object counts flash regions in 512-byte sectors.
constexpr ChipFamily QN4180 = {
    0x30005, "Qn4180", "qn4180", FamilyJob::QN4180, FamilyChip::QN4180, BOOT_BAUD_RATE,
    ImageReading::VB27, PackageCheck::LOADER_FIRST, OnlyBurnMatch::CONTAINS,
    EraseMeaning::WHOLE_FLASH_AFTER_PACKAGE_LOADER, ReadMeaning::FLASH_AFTER_PACKAGE_LOADER,
    BurnCheckMeaning::PACKAGE_READ_BACK, TransferProtocol::NONE,
};
constexpr ChipFamily TYPESIX = {
    0x30002, "TypeSix", "typesix", FamilyJob::TYPESIX, FamilyChip::TYPESIX, BOOT_BAUD_RATE,
    ImageReading::TYPESIX, PackageCheck::LISTING, OnlyBurnMatch::SAME_NAME_IGNORING_CASE,
    EraseMeaning::NOT_OFFERED, ReadMeaning::NOT_OFFERED,
    BurnCheckMeaning::BOARD_DIGEST, TransferProtocol::TYPESIX_SERIAL,
};
// Every other type of the department: the generic flow of a loader and a
// partition table, or one image at a fixed address. The device library has
// no chip object for these types, so such a run ends at opening the board.
constexpr ChipFamily CONNECTION = {
    0, "connection", "", FamilyJob::CONNECTION, FamilyChip::NONE, BOOT_BAUD_RATE,
    ImageReading::NONE, PackageCheck::NONE, OnlyBurnMatch::CONTAINS,
    EraseMeaning::NOT_OFFERED, ReadMeaning::NOT_OFFERED,
    BurnCheckMeaning::SINGLE_IMAGE_READ_BACK, TransferProtocol::NONE,
};

constexpr const ChipFamily* WITH_KEY[] = {&VB27, &QN4180, &TYPESIX};

// --- image types ----------------------------------------------------------------------

constexpr int NO_FILE_TYPE = -1;  // job: skipped; chip path: the file type set last
struct TypeSixFileTypeRow {
    uint32_t imageType;
    int job;
    int chip;
};
constexpr TypeSixFileTypeRow TYPESIX_FILE_TYPES[] = {
    // {image type, job, chip path}
    {18, 2, 2},
    {20, 0, 0},
    {11, 1, NO_FILE_TYPE},
    {22, NO_FILE_TYPE, 1},
    {26, 4, 4},
    {TYPESIX_IMAGE_FLASH, TYPESIX_FILE_FLASH_BIN, TYPESIX_FILE_FLASH_BIN},
    {TYPESIX_IMAGE_EMMC, TYPESIX_FILE_EMMC_BIN, TYPESIX_FILE_EMMC_BIN},
    {4, 4, NO_FILE_TYPE},
    {104, 104, NO_FILE_TYPE},
};

bool TypeSixFileType(uint32_t imageType, int TypeSixFileTypeRow::*path, int& fileType)
{
    for (const TypeSixFileTypeRow& row : TYPESIX_FILE_TYPES) {
        if (row.imageType == imageType && row.*path != NO_FILE_TYPE) {
            fileType = row.*path;
            return true;
        }
    }
    return false;
}

bool SameIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

const ChipFamily& FamilyOf(int chipType)
{
    for (const ChipFamily* family : WITH_KEY) {
        if (family->chipType == chipType) {
            return *family;
        }
    }
    return CONNECTION;
}

const ChipFamily* FamilyByKey(const std::string& key)
{
    for (const ChipFamily* family : WITH_KEY) {
        if (key == family->key) {
            return family;
        }
    }
    return nullptr;
}

const ChipFamily* const* FamiliesWithKey(size_t& count)
{
    count = std::size(WITH_KEY);
    return WITH_KEY;
}

const char* FamilyName(int chipType)
{
    return chipType == 0 ? "" : FamilyOf(chipType).name;
}

bool OnlyBurnSelects(const ChipFamily& family, const std::string& imageName, const std::string& given)
{
    switch (family.onlyBurn) {
        case OnlyBurnMatch::CONTAINS:
            return imageName.find(given) != std::string::npos;
        case OnlyBurnMatch::SAME_NAME_IGNORING_CASE:
            return SameIgnoringCase(imageName, given);
    }
    return false;
}

Vb27ImageCommand Vb27CommandForImageType(uint32_t type)
{
    switch (type) {
        case VB27_IMAGE_LOADER:
            return Vb27ImageCommand::NONE;
        case VB27_IMAGE_VERSION:
            return Vb27ImageCommand::VERSION;
        case VB27_IMAGE_FACTORY:
            return Vb27ImageCommand::FACTORY;
        case VB27_IMAGE_NV_KV:
            return Vb27ImageCommand::NV_KV;
        case VB27_IMAGE_OTP:
        case VB27_IMAGE_EFUSE:
            return Vb27ImageCommand::OTP_EFUSE;
        case VB27_IMAGE_SKIPPED:
            return Vb27ImageCommand::NOT_SENT;
        default:
            return Vb27ImageCommand::FLASH_IMAGE;
    }
}

Vb27ImageFormat Vb27FormatForImageType(uint32_t type)
{
    switch (type) {
        case VB27_IMAGE_ROM_FORMAT:
            return Vb27ImageFormat::ROM;
        case VB27_IMAGE_EMMC_FORMAT:
            return Vb27ImageFormat::EMMC;
        default:
            return Vb27ImageFormat::NORMAL;
    }
}

bool Vb27ImageKeptInFlash(uint32_t type)
{
    switch (Vb27CommandForImageType(type)) {
        case Vb27ImageCommand::FLASH_IMAGE:
            return Vb27FormatForImageType(type) == Vb27ImageFormat::NORMAL;
        case Vb27ImageCommand::NV_KV:
        case Vb27ImageCommand::FACTORY:
            return true;
        default:
            return false;
    }
}

bool TypeSixJobFileType(uint32_t imageType, int& fileType)
{
    return TypeSixFileType(imageType, &TypeSixFileTypeRow::job, fileType);
}

bool TypeSixChipFileType(uint32_t imageType, int& fileType)
{
    return TypeSixFileType(imageType, &TypeSixFileTypeRow::chip, fileType);
}

bool TypeSixJobBurnsAsImage(uint32_t imageType)
{
    return imageType != TYPESIX_IMAGE_SSB && imageType != TYPESIX_IMAGE_NOT_BURNED &&
           imageType != TYPESIX_IMAGE_SMALL_SSB && imageType != TYPESIX_IMAGE_SMALL_SSB_DIGEST;
}

}  // namespace Common
