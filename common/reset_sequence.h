// A hands-free reset: steps on the modem lines (DTR, RTS) and waits, written
// as "D0|R1|W0.1|D1|R0|W0.05|D0".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Common {

struct ResetStep {
    enum class Kind { SET_DTR, SET_RTS, WAIT };
    Kind kind = Kind::WAIT;
    bool on = false;       // SET_DTR, SET_RTS
    uint32_t waitMs = 0;   // WAIT
};

struct ResetSequence {
    std::string text;  // as given, for messages
    std::vector<ResetStep> steps;

    bool Empty() const { return steps.empty(); }
};

// False with the reason (one line, no "\n") for text that is not a sequence.
bool ParseResetSequence(const std::string& text, ResetSequence& out, std::string& why);

}  // namespace Common
