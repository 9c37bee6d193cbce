#ifndef TARNWICK_CLI_PACKET_SIZE_SEAM_H
#define TARNWICK_CLI_PACKET_SIZE_SEAM_H

// Holds the "-packagesize:" value until the device library, which owns the
// packet size of the frame protocol, is built into the tool; its SetPacketSize
// replaces this pair then.

#include <cstdint>

namespace FrontEnd {

constexpr uint32_t DEFAULT_PACKET_SIZE = 1024;

void SetPacketSize(uint32_t size);
uint32_t GetPacketSize();

} // namespace FrontEnd

#endif
