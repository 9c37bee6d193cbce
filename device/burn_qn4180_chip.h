// Chip object of the Qn4180 boards: the Vb27 exchanges, with flash regions
// counted in 512-byte sectors and a much slower flash image command.
#pragma once

#include <cstdint>

#include "device/burn_vb27_chip.h"

namespace BurnQn4180ChipSp {

constexpr int QN4180_COMMAND_FRAME_TIMEOUT = 180000;
constexpr int QN4180_COMMAND_TOTAL_TIMEOUT = 180000;
constexpr uint32_t QN4180_BLOCK_SIZE = 512;

class BurnQn4180Chip : public BurnVb27ChipSp::BurnVb27Chip {
public:
    BurnQn4180Chip() = default;

    // Also the erase-all command.
    bool SendFlashImageCmdFrame(unsigned long burnAddress, unsigned long length, unsigned long burnSize,
                                int type) override;
};

} // namespace BurnQn4180ChipSp
