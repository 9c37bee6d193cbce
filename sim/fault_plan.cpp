#include "sim/fault_plan.h"

#include "cmdline/companion_command_line.h"

#include <cctype>
#include <string>

namespace Sim {

namespace {

constexpr const char* CLOSING_WORD = "close";
constexpr int BITS_PER_BYTE = 8;

// A count from 1 in the number syntax of the command line.
bool ParseCount(const std::string& text, uint64_t& value)
{
    return CompanionCli::ParseNumber(text, value) && value >= 1;
}

// A command code is always hexadecimal: that is how codes are written everywhere.
bool ParseCode(std::string text, uint8_t& code)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text = text.substr(2);
    }
    if (text.empty() || text.size() > 2) {
        return false;
    }
    for (const char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    code = static_cast<uint8_t>(std::stoul(text, nullptr, 16));
    return true;
}

}  // namespace

bool ParseAnswerSelector(const std::string& text, AnswerSelector& selector, std::string& error)
{
    selector = AnswerSelector();
    selector.text = text;
    const size_t at = text.find('@');
    if (at == std::string::npos) {
        if (!ParseCount(text, selector.nth)) {
            error = "\"" + text + "\" is no answer: N, CODE@K or close@K, counted from 1";
            return false;
        }
        return true;
    }
    const std::string what = text.substr(0, at);
    if (!ParseCount(text.substr(at + 1), selector.nth)) {
        error = "\"" + text + "\": the count after @ must be a number from 1";
        return false;
    }
    if (what == CLOSING_WORD) {
        selector.by = AnswerSelector::By::CLOSING_ACK;
        return true;
    }
    if (!ParseCode(what, selector.code)) {
        error = "\"" + text + "\": \"" + what + "\" is no command code (one byte in hex) and not close";
        return false;
    }
    selector.by = AnswerSelector::By::COMMAND;
    return true;
}

bool ParseGarbledAnswer(const std::string& text, AnswerFault& fault, std::string& error)
{
    fault = AnswerFault();
    fault.kind = AnswerFault::Kind::GARBLED;
    std::string selector = text;
    const size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
        const std::string manner = text.substr(colon + 1);
        selector = text.substr(0, colon);
        if (manner == GarbleName(Garble::CHECK)) {
            fault.garble = Garble::CHECK;
        } else if (manner == GarbleName(Garble::BIT)) {
            fault.garble = Garble::BIT;
        } else if (manner == GarbleName(Garble::CUT)) {
            fault.garble = Garble::CUT;
        } else {
            error = "\"" + text + "\": the manner after : must be check, bit or cut";
            return false;
        }
    }
    return ParseAnswerSelector(selector, fault.which, error);
}

bool ParseBlockSelector(const std::string& text, BlockSelector& selector, std::string& error)
{
    selector = BlockSelector();
    selector.text = text;
    const size_t colon = text.find(':');
    const bool ok = colon == std::string::npos
                        ? ParseCount(text, selector.nth)
                        : ParseCount(text.substr(0, colon), selector.transfer) &&
                              ParseCount(text.substr(colon + 1), selector.nth);
    if (!ok) {
        error = "\"" + text + "\" is no data block: N or TRANSFER:BLOCK, counted from 1";
    }
    return ok;
}

bool ParseBadCell(const std::string& text, BadCell& cell, std::string& error)
{
    cell = BadCell();
    const size_t colon = text.find(':');
    uint64_t bit = 0;
    const bool ok = CompanionCli::ParseNumber(text.substr(0, colon), cell.address) &&
                    (colon == std::string::npos ||
                     (CompanionCli::ParseNumber(text.substr(colon + 1), bit) && bit < BITS_PER_BYTE));
    if (!ok) {
        error = "\"" + text + "\" is no flash cell: ADDRESS or ADDRESS:BIT with a bit from 0 to 7";
        return false;
    }
    cell.bit = static_cast<int>(bit);
    return true;
}

const char* GarbleName(Garble garble)
{
    switch (garble) {
    case Garble::CHECK: return "check";
    case Garble::BIT: return "bit";
    case Garble::CUT: return "cut";
    }
    return "check";
}

}  // namespace Sim
