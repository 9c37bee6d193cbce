#include "cmdline/companion_command_line.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace CompanionCli {

namespace {

// The multiplier letter's shift, or -1 for any other character.
int MultiplierShift(char letter)
{
    switch (std::tolower(static_cast<unsigned char>(letter))) {
        case 'k': return 10;
        case 'm': return 20;
        case 'g': return 30;
        default: return -1;
    }
}

// Where the help of the (sub)command that failed is asked for.
std::string HelpCommand(const CLI::App& app)
{
    std::string command = app.get_name();
    const CLI::App* current = &app;
    while (!current->get_subcommands().empty()) {
        current = current->get_subcommands().back();
        command += " " + current->get_name();
    }
    return command + " --help";
}

}  // namespace

const char* Version()
{
    return TARNWICK_VERSION;
}

bool ParseNumber(const std::string& text, uint64_t& value)
{
    size_t at = 0;
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        at = 2;
    }
    uint64_t result = 0;
    const size_t first = at;
    for (; at < text.size(); ++at) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (!(base == 16 ? std::isxdigit(c) : std::isdigit(c))) {
            break;
        }
        const unsigned digit = std::isdigit(c) ? c - '0' : static_cast<unsigned>(std::tolower(c) - 'a' + 10);
        if (result > (std::numeric_limits<uint64_t>::max() - digit) / base) {
            return false;
        }
        result = result * base + digit;
    }
    if (at == first) {
        return false;
    }
    if (at < text.size()) {
        // Only decimal numbers take a multiplier, and it ends the text.
        const int shift = base == 10 && at + 1 == text.size() ? MultiplierShift(text[at]) : -1;
        if (shift < 0 || result > (std::numeric_limits<uint64_t>::max() >> shift)) {
            return false;
        }
        result <<= shift;
    }
    value = result;
    return true;
}

CLI::Validator NumberIn(uint64_t low, uint64_t high)
{
    auto check = [low, high](std::string& text) -> std::string {
        uint64_t value = 0;
        if (!ParseNumber(text, value)) {
            return "\"" + text + "\" is not a number (0x hexadecimal, or decimal with k, m or g)";
        }
        if (value < low || value > high) {
            return "\"" + text + "\" is out of range (" + std::to_string(low) + " to " + std::to_string(high) + ")";
        }
        text = std::to_string(value);
        return std::string();
    };
    return CLI::Validator(check, "");
}

void Configure(CLI::App& app, const std::string& versionFlags)
{
    app.set_help_flag("-h,--help", "print this help and exit");
    app.set_version_flag(versionFlags, std::string(app.get_name()) + " " + Version(), "print the version and exit");
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

std::optional<int> Parse(CLI::App& app, const std::vector<std::string>& arguments, std::ostream& out,
                         std::ostream& err)
{
    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return EXIT_OK;
    } catch (const CLI::CallForAllHelp&) {
        out << app.help("", CLI::AppFormatMode::All);
        return EXIT_OK;
    } catch (const CLI::CallForVersion& version) {
        out << version.what() << "\n";
        return EXIT_OK;
    } catch (const CLI::ParseError& error) {
        err << app.get_name() << ": " << error.what() << "\nRun '" << HelpCommand(app) << "' for more information.\n";
        return EXIT_USAGE;
    }
    return std::nullopt;
}

}  // namespace CompanionCli
