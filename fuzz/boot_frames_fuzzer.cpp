// Answers of the boot ROM: the reply frame scan against the frame it answers.
#include <cstdint>
#include <vector>

#include "device/burn_vb27_chip.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzSupport::QuietConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) {
        return 0;
    }
    // Bytes 0..1 are the sent frame's head.
    const uint8_t sent[2] = {data[0], data[1]};
    const std::vector<uint8_t> recv(data + 2, data + size);
    BurnVb27ChipSp::BurnVb27Chip chip;
    (void)chip.Frames().CheckReplyFrameValidity(recv.data(), static_cast<int>(recv.size()), sent);
    return 0;
}
