// Creation of the TypeSix chip object, kept behind one function so that the
// device library does not depend on the TypeSix sources.
#pragma once

#include <memory>

#include "device/burn_chip_base.h"

// Null while the tool has no TypeSix chip object, or when allocation fails.
std::unique_ptr<BurnChipBase> NewTypeSixChip();
