#include "common/reset_sequence.h"

#include <cmath>
#include <cstdlib>

namespace Common {

namespace {

constexpr char STEP_SEPARATOR = '|';
// A wait longer than this is a typing error, not a reset.
constexpr double MAX_WAIT_SECONDS = 10.0;

bool ParseWait(const std::string& value, uint32_t& waitMs)
{
    if (value.empty() || value.find_first_not_of("0123456789.") != std::string::npos) {
        return false;
    }
    char* end = nullptr;
    const double seconds = std::strtod(value.c_str(), &end);
    if (end == nullptr || *end != '\0' || !(seconds >= 0.0) || seconds > MAX_WAIT_SECONDS) {
        return false;
    }
    waitMs = static_cast<uint32_t>(std::lround(seconds * 1000.0));
    return true;
}

bool ParseStep(const std::string& step, ResetStep& out)
{
    if (step.size() < 2) {
        return false;
    }
    const std::string value = step.substr(1);
    switch (step[0]) {
    case 'D':
    case 'R':
        if (value != "0" && value != "1") {
            return false;
        }
        out.kind = step[0] == 'D' ? ResetStep::Kind::SET_DTR : ResetStep::Kind::SET_RTS;
        out.on = value == "1";
        return true;
    case 'W':
        out.kind = ResetStep::Kind::WAIT;
        return ParseWait(value, out.waitMs);
    default:
        return false;
    }
}

}  // namespace

bool ParseResetSequence(const std::string& text, ResetSequence& out, std::string& why)
{
    ResetSequence parsed;
    parsed.text = text;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(STEP_SEPARATOR, start);
        const std::string step = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        ResetStep parsedStep;
        if (!ParseStep(step, parsedStep)) {
            why = "step \"" + step + "\" is none of D0, D1, R0, R1 or W<seconds> (at most 10)";
            return false;
        }
        parsed.steps.push_back(parsedStep);
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    out = std::move(parsed);
    return true;
}

}  // namespace Common
