#include "device/burn_qn4180_chip.h"

namespace BurnQn4180ChipSp {

bool BurnQn4180Chip::SendFlashImageCmdFrame(unsigned long burnAddress, unsigned long length, unsigned long burnSize,
                                            int type)
{
    return SendFlashImageFrame(burnAddress, length, burnSize, type, QN4180_BLOCK_SIZE, m_flashImageAck,
                               m_flashImageTotal);
}

void BurnQn4180Chip::SetFlashImageWindows(int ackWait, int totalWait)
{
    m_flashImageAck = ackWait;
    m_flashImageTotal = totalWait;
}

} // namespace BurnQn4180ChipSp
