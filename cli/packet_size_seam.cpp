#include "cli/packet_size_seam.h"

namespace FrontEnd {

namespace {
// Process-wide like the device library's own setting; only the main thread touches it.
uint32_t g_packetSize = DEFAULT_PACKET_SIZE;
} // namespace

void SetPacketSize(uint32_t size)
{
    g_packetSize = size;
}

uint32_t GetPacketSize()
{
    return g_packetSize;
}

} // namespace FrontEnd
