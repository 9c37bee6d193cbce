// Text commands over the serial line: an acknowledged command head frame, an
// acknowledged command data frame, then the board's answer up to its
// end-of-transmission marker.
#pragma once

#include "device/frame_format_base.h"

namespace DefaultSerportFrameSp {

class DefaultSerportFrame : public FrameFormatBase {
public:
    int SendCmd(unsigned char* cmd, unsigned long length, unsigned char* reply, int replySize,
                int timeout) override;

    // Collects the answer into reply until "[EOT](OK)" (1), "[EOT](ERROR)" or
    // the timeout (0).
    int ReceiveBoardCmdRespond(unsigned char* reply, int replySize, int timeout);
};

} // namespace DefaultSerportFrameSp
