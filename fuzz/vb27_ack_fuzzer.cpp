// The Vb27 ACK frame scan: whatever the board sends, the scan stays inside the
// buffer and never gives away bytes behind the frame it found.
#include <cstdint>
#include <vector>

#include "device/vb27_frames.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzSupport::QuietConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> buffer(data, data + size);
    size_t offset = 0;
    // Scan as the chip does: drop what a scan consumed and look again.
    while (offset <= buffer.size()) {
        const Vb27Frames::AckScan scan = Vb27Frames::ScanAckFrame(buffer.data() + offset, buffer.size() - offset);
        if (scan.consumed > buffer.size() - offset) {
            __builtin_trap();
        }
        if (scan.kind != Vb27Frames::AckScan::NONE) {
            if (scan.frameOffset + Vb27Frames::ACK_FRAME_LEN > buffer.size() - offset ||
                scan.consumed != scan.frameOffset + Vb27Frames::ACK_FRAME_LEN) {
                __builtin_trap();
            }
        }
        if (scan.kind == Vb27Frames::AckScan::NONE || scan.consumed == 0) {
            break;
        }
        offset += scan.consumed;
    }
    return 0;
}
