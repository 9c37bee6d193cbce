// The settings of one line to a board, as one value: made once from the burn
// settings and handed down, so a rate is never kept in a second copy that
// could disagree with what the line was given.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "common/chip_family.h"

struct LineSettings {
    std::string portName;
    uint32_t baudRate = Common::BOOT_BAUD_RATE;
    uint32_t dataBits = 8;
    uint32_t stopBits = 0;  // chip settings' codes: 0 one, 1 one and a half, 2 two
    uint32_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space

    LineSettings WithRate(uint32_t rate) const
    {
        LineSettings copy = *this;
        copy.baudRate = rate;
        return copy;
    }
};

// Outcome of a line operation: empty reason and no error when it worked.
struct LineStatus {
    int error = 0;       // errno-like code where the system gave one (EACCES: no permission)
    std::string reason;  // one line for the user, without "\n"

    bool Ok() const { return error == 0 && reason.empty(); }
    static LineStatus Fail(std::string why, int code = 0)
    {
        LineStatus status;
        status.error = code;
        status.reason = std::move(why);
        return status;
    }
};

enum class ModemLine { DTR, RTS };
