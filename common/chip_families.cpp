#include "common/chip_families.h"

#include <cctype>

namespace Common {

bool Vb27OnlyBurnSelects(const std::string& imageName, const std::string& given)
{
    return imageName.find(given) != std::string::npos;
}

bool TypeSixOnlyBurnSelects(const std::string& imageName, const std::string& given)
{
    if (imageName.size() != given.size()) {
        return false;
    }
    for (size_t i = 0; i < imageName.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(imageName[i])) !=
            std::tolower(static_cast<unsigned char>(given[i]))) {
            return false;
        }
    }
    return true;
}

} // namespace Common
