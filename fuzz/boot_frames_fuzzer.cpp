// Answers of the boot ROM and the board: the reply frame scan against the
// frame it answers, the handshake reply scan, and the board frame reply check.
#include <cstdint>
#include <vector>

#include "device/boot_frames.h"
#include "device/burn_vb27_chip.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzSupport::QuietConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3) {
        return 0;
    }
    // Byte 0 picks the board frame flag and tail, bytes 1..2 are the sent frame's head.
    const uint8_t control = data[0];
    const uint8_t sent[2] = {data[1], data[2]};
    const std::vector<uint8_t> recv(data + 3, data + size);
    BurnVb27ChipSp::BurnVb27Chip chip;
    (void)chip.CheckReplyFrameValidity(recv.data(), static_cast<int>(recv.size()), sent);
    (void)chip.CheckRecvFrame(recv.data(), static_cast<int>(recv.size()));
    std::vector<uint8_t> board = recv;
    const uint8_t flag = (control & 1) ? BootFrame::BOARD_FRAME_FLAG : control;
    (void)chip.CheckRecvFrame(flag, board.data(), board.size(), control & 2);
    if (recv.size() >= Common::BOARD_FRAME_REPLY_LENGTH) {
        (void)BootFrame::BoardReplyValueA(recv.data());
        (void)BootFrame::BoardReplyValueB(recv.data());
    }
    return 0;
}
