#include "device/typesix_chip_factory.h"

// Replaced by the TypeSix chip object's own definition once it is built.
std::unique_ptr<BurnChipBase> NewTypeSixChip()
{
    return nullptr;
}
