#include "common/outcome.h"

#include <utility>

namespace Common {

const char* OutcomeKindName(OutcomeKind kind)
{
    switch (kind) {
        case OutcomeKind::NONE: return "none";
        case OutcomeKind::SETTINGS: return "settings";
        case OutcomeKind::PACKAGE_REFUSED: return "packageRefused";
        case OutcomeKind::FILE: return "file";
        case OutcomeKind::PORT: return "port";
        case OutcomeKind::RATE_REFUSED: return "rateRefused";
        case OutcomeKind::HANDSHAKE: return "handshake";
        case OutcomeKind::COMMAND_REFUSED: return "commandRefused";
        case OutcomeKind::TRANSFER: return "transfer";
        case OutcomeKind::LINE_LOST: return "lineLost";
        case OutcomeKind::CANCELLED: return "cancelled";
        case OutcomeKind::BURN_CHECK_MISMATCH: return "burnCheckMismatch";
        case OutcomeKind::NOT_OFFERED: return "notOffered";
    }
    return "unknown";
}

const char* ImageResultName(ImageResult result)
{
    switch (result) {
        case ImageResult::CONFIRMED: return "confirmed";
        case ImageResult::UNCONFIRMED: return "unconfirmed";
        case ImageResult::FAILED: return "failed";
    }
    return "failed";
}

namespace {

struct CheckResultEntry {
    CheckResult result;
    const char* name;
};
constexpr CheckResultEntry CHECK_RESULT_NAMES[] = {
    {CheckResult::NOT_CHECKED, "not checked"}, {CheckResult::PASSED, "passed"},
    {CheckResult::FAILED, "failed"},           {CheckResult::READ_FAILED, "read failed"},
    {CheckResult::BOARD_DIGEST, "board digest"},
};

}  // namespace

const char* CheckResultName(CheckResult result)
{
    for (const CheckResultEntry& entry : CHECK_RESULT_NAMES) {
        if (entry.result == result) {
            return entry.name;
        }
    }
    return "not checked";
}

CheckResult CheckResultOfName(const std::string& name)
{
    for (const CheckResultEntry& entry : CHECK_RESULT_NAMES) {
        if (name == entry.name) {
            return entry.result;
        }
    }
    return CheckResult::NOT_CHECKED;
}

std::string Outcome::Summary() const
{
    const size_t start = message.find_first_not_of("\r\n");
    if (start == std::string::npos) {
        return std::string();
    }
    const size_t end = message.find_first_of("\r\n", start);
    std::string line = message.substr(start, end == std::string::npos ? std::string::npos : end - start);
    while (!line.empty() && line.back() == ' ') {
        line.pop_back();
    }
    return line;
}

Outcome Outcome::Failure(OutcomeKind kind, std::string message, std::string image)
{
    Outcome outcome;
    outcome.kind = kind;
    outcome.message = std::move(message);
    outcome.image = std::move(image);
    return outcome;
}

}  // namespace Common
