#ifndef TARNWICK_COMMON_CHIP_FAMILIES_H
#define TARNWICK_COMMON_CHIP_FAMILIES_H

// The chip families this tool serves, as the settings, the jobs, the chip
// objects and the package tool all name them. What a package image type means
// to each family is in common/fwpkg_format.h.

#include <string>

namespace Common {

// A chip type carries its department in bits 16 to 23.
inline constexpr int CONNECTION_DEPARTMENT = 3;
inline constexpr int TYPESIX_CHIP_TYPE = 0x30002;
inline constexpr int VB27_CHIP_TYPE = 0x30004;
inline constexpr int QN4180_CHIP_TYPE = 0x30005;

// The family's name for reports: "TypeSix", "Vb27", "Qn4180", "connection"
// for any other chip type, empty for none (0).
inline const char* FamilyName(int chipType)
{
    switch (chipType) {
        case TYPESIX_CHIP_TYPE:
            return "TypeSix";
        case VB27_CHIP_TYPE:
            return "Vb27";
        case QN4180_CHIP_TYPE:
            return "Qn4180";
        case 0:
            return "";
        default:
            return "connection";
    }
}

constexpr int DepartmentOf(int chipType)
{
    return (chipType >> 16) & 0xFF;
}

// Whether an "-onlyburn:" name selects a package image differs by family, and
// users rely on both: the Vb27/Qn4180 chip object takes every image whose name
// contains the given text (case counts, so "app" also picks "app_b.bin"); the
// TypeSix job takes only the image of exactly that name, ignoring case.
bool Vb27OnlyBurnSelects(const std::string& imageName, const std::string& given);
bool TypeSixOnlyBurnSelects(const std::string& imageName, const std::string& given);

} // namespace Common

#endif
