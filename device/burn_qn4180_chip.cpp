#include "device/burn_qn4180_chip.h"

namespace BurnQn4180ChipSp {

bool BurnQn4180Chip::SendFlashImageCmdFrame(unsigned long burnAddress, unsigned long length, unsigned long burnSize,
                                            int type)
{
    return SendFlashImageFrame(burnAddress, length, burnSize, type, QN4180_BLOCK_SIZE, QN4180_COMMAND_FRAME_TIMEOUT,
                               QN4180_COMMAND_TOTAL_TIMEOUT);
}

} // namespace BurnQn4180ChipSp
