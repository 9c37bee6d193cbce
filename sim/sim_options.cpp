#include "sim/sim_options.h"

#include <cctype>
#include <limits>

namespace Sim {

namespace {

bool TakeNumber(const std::string& name, const std::string& text, uint64_t low, uint64_t high, uint64_t& value,
                std::string& error)
{
    if (!ParseSimNumber(text, value) || value < low || value > high) {
        error = "invalid value \"" + text + "\" for " + name;
        return false;
    }
    return true;
}

}  // namespace

bool ParseSimNumber(const std::string& text, uint64_t& value)
{
    size_t at = 0;
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        at = 2;
    }
    uint64_t result = 0;
    size_t digits = 0;
    for (; at < text.size(); ++at, ++digits) {
        const auto c = static_cast<unsigned char>(text[at]);
        unsigned digit;
        if (std::isdigit(c)) {
            digit = c - '0';
        } else if (base == 16 && std::isxdigit(c)) {
            digit = static_cast<unsigned>(std::tolower(c) - 'a' + 10);
        } else {
            break;
        }
        if (result > (std::numeric_limits<uint64_t>::max() - digit) / base) {
            return false;
        }
        result = result * base + digit;
    }
    if (digits == 0) {
        return false;
    }
    if (at < text.size()) {
        if (base == 16 || at + 1 != text.size()) {
            return false;
        }
        const int shift = text[at] == 'k' || text[at] == 'K' ? 10
                          : text[at] == 'm' || text[at] == 'M' ? 20
                          : text[at] == 'g' || text[at] == 'G' ? 30
                                                               : -1;
        if (shift < 0 || result > (std::numeric_limits<uint64_t>::max() >> shift)) {
            return false;
        }
        result <<= shift;
    }
    value = result;
    return true;
}

bool ParseSimOptions(int argc, const char* const* argv, SimOptions& options, std::string& error)
{
    constexpr uint64_t INT_LIMIT = std::numeric_limits<int>::max();
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::string value;
        bool hasValue = false;
        const size_t equals = name.find('=');
        if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            hasValue = true;
        }
        auto needValue = [&]() {
            if (hasValue) {
                return true;
            }
            if (i + 1 >= argc) {
                error = name + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        uint64_t n = 0;
        if (name == "--silent" || name == "--fall-back-to-rom" || name == "--ssb-running") {
            if (hasValue) {
                error = name + " takes no value";
                return false;
            }
            bool& flag = name == "--silent" ? options.faults.silent
                         : name == "--fall-back-to-rom" ? options.faults.fallBackToRom
                                                       : options.faults.ssbRunning;
            flag = true;
            continue;
        }
        if (!needValue()) {
            return false;
        }
        if (name == "--family") {
            if (value != "vb27" && value != "qn4180" && value != "typesix") {
                error = "unknown family \"" + value + "\" (vb27, qn4180 or typesix)";
                return false;
            }
            options.family = value;
        } else if (name == "--link") {
            options.link = value;
        } else if (name == "--flash") {
            options.flashFile = value;
        } else if (name == "--report") {
            options.reportFile = value;
        } else if (name == "--flash-size") {
            if (!TakeNumber(name, value, 1, Flash::MAX_SIZE, options.flashSize, error)) {
                return false;
            }
            options.flashSizeGiven = true;
        } else if (name == "--line-baud") {
            if (!TakeNumber(name, value, 1, std::numeric_limits<uint32_t>::max(), n, error)) {
                return false;
            }
            options.lineBaud = static_cast<uint32_t>(n);
        } else if (name == "--noise") {
            if (!TakeNumber(name, value, 0, 1 << 20, n, error)) {
                return false;
            }
            options.faults.noiseBeforeAnswers = static_cast<size_t>(n);
        } else if (name == "--close-after") {
            if (!TakeNumber(name, value, 1, std::numeric_limits<uint64_t>::max(), options.faults.closeAfterBytes, error)) {
                return false;
            }
        } else if (name == "--nak-frame" || name == "--corrupt-answer" || name == "--drop-answer") {
            if (!TakeNumber(name, value, 1, INT_LIMIT, n, error)) {
                return false;
            }
            int& target = name == "--nak-frame" ? options.faults.nakFrame
                          : name == "--corrupt-answer" ? options.faults.corruptAnswer
                                                       : options.faults.dropAnswer;
            target = static_cast<int>(n);
        } else {
            error = "unknown option \"" + name + "\"";
            return false;
        }
    }
    if (options.family.empty()) {
        error = "--family is required";
        return false;
    }
    return true;
}

std::string SimUsage()
{
    return "usage: tarnwick-sim --family vb27|qn4180|typesix [--link PATH] [--flash FILE] [--flash-size N]\n"
           "                    [--report FILE] [--line-baud B] [--noise N] [--nak-frame N]\n"
           "                    [--corrupt-answer N] [--drop-answer N] [--silent] [--close-after N]\n"
           "                    [--fall-back-to-rom] [--ssb-running]\n";
}

}  // namespace Sim
