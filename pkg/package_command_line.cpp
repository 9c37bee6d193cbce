#include "pkg/package_command_line.h"

#include "pkg/package_tool.h"

namespace PackageToolSp {

namespace {

constexpr const char* VERSION = "1.0.0";

// Operands of a sub-command with its options taken out; false after a message
// for an option it does not know or one without its value.
struct Parsed {
    std::vector<std::string> operands;
    std::vector<PackEntry> entries;
    Family family = Family::ANY;
    Common::FwpkgLayout layout = Common::FwpkgLayout::NORMAL;
};

bool TakeValue(const std::vector<std::string>& arguments, size_t& i, std::string& value, std::ostream& out)
{
    if (i + 1 >= arguments.size()) {
        out << "error: " << arguments[i] << " needs a value\n";
        return false;
    }
    value = arguments[++i];
    return true;
}

bool ParseArguments(const std::vector<std::string>& arguments, Parsed& parsed, std::ostream& out)
{
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        std::string value;
        if (argument == "--family") {
            if (!TakeValue(arguments, i, value, out)) {
                return false;
            }
            if (!ParseFamily(value, parsed.family)) {
                out << "error: unknown family \"" << value << "\" (vb27, qn4180 or typesix)\n";
                return false;
            }
        } else if (argument == "--layout") {
            if (!TakeValue(arguments, i, value, out)) {
                return false;
            }
            if (value == "normal") {
                parsed.layout = Common::FwpkgLayout::NORMAL;
            } else if (value == "new") {
                parsed.layout = Common::FwpkgLayout::NEW;
            } else {
                out << "error: unknown layout \"" << value << "\" (normal or new)\n";
                return false;
            }
        } else if (argument == "--entry") {
            PackEntry entry;
            std::string error;
            if (!TakeValue(arguments, i, value, out)) {
                return false;
            }
            if (!ParsePackEntry(value, entry, error)) {
                out << "error: " << error << "\n";
                return false;
            }
            parsed.entries.push_back(entry);
        } else if (argument.size() > 1 && argument[0] == '-') {
            out << "error: unknown option " << argument << "\n";
            return false;
        } else {
            parsed.operands.push_back(argument);
        }
    }
    return true;
}

// Each sub-command takes only the options that mean something to it.
bool Allowed(const std::string& command, const Parsed& parsed, std::ostream& out)
{
    const bool pack = command == "pack";
    const bool familyUser = command == "info" || command == "verify";
    if (!pack && (!parsed.entries.empty() || parsed.layout != Common::FwpkgLayout::NORMAL)) {
        out << "error: --entry and --layout belong to pack\n";
        return false;
    }
    if (!familyUser && parsed.family != Family::ANY) {
        out << "error: --family belongs to info and verify\n";
        return false;
    }
    return true;
}

int Operands(const std::string& command, const Parsed& parsed, size_t count, std::ostream& out)
{
    if (parsed.operands.size() != count) {
        out << "error: " << command << " takes " << count << " operand" << (count == 1 ? "" : "s") << "\n"
            << Usage();
        return EXIT_USAGE;
    }
    return EXIT_OK;
}

}  // namespace

std::string Usage()
{
    return "usage: tarnwick-pkg info PKG [--family vb27|qn4180|typesix]\n"
           "       tarnwick-pkg verify PKG [--family vb27|qn4180|typesix]\n"
           "       tarnwick-pkg extract PKG DIR\n"
           "       tarnwick-pkg pack OUT --entry name:type:address:size:file ... [--layout normal|new]\n"
           "       tarnwick-pkg -h | -v\n"
           "info     header, CRC and one row per image, with warnings for images past the end or overlapping\n"
           "verify   exit 0 when tarnwickcmd would take the package, 1 with the reason when not\n"
           "extract  every image with its _sha256 digest file into DIR, as the TypeSix job unpacks them\n"
           "pack     a package of the given images; numbers are 0x hexadecimal or decimal with k, m or g\n"
           "exit codes: 0 done or accepted, 1 refused or failed, 2 wrong command line\n";
}

int RunPackageTool(const std::vector<std::string>& arguments, std::ostream& out)
{
    if (arguments.empty()) {
        out << Usage();
        return EXIT_USAGE;
    }
    const std::string& command = arguments[0];
    if (command == "-h" || command == "--help") {
        out << Usage();
        return EXIT_OK;
    }
    if (command == "-v" || command == "--version") {
        out << "tarnwick-pkg " << VERSION << "\n";
        return EXIT_OK;
    }
    if (command != "info" && command != "verify" && command != "extract" && command != "pack") {
        out << "error: unknown command \"" << command << "\"\n" << Usage();
        return EXIT_USAGE;
    }
    Parsed parsed;
    if (!ParseArguments(arguments, parsed, out) || !Allowed(command, parsed, out)) {
        return EXIT_USAGE;
    }
    if (command == "info" || command == "verify") {
        if (Operands(command, parsed, 1, out) != EXIT_OK) {
            return EXIT_USAGE;
        }
        return command == "info" ? Info(parsed.operands[0], parsed.family, out)
                                 : Verify(parsed.operands[0], parsed.family, out);
    }
    if (command == "extract") {
        if (Operands(command, parsed, 2, out) != EXIT_OK) {
            return EXIT_USAGE;
        }
        return Extract(parsed.operands[0], parsed.operands[1], out);
    }
    if (Operands(command, parsed, 1, out) != EXIT_OK) {
        return EXIT_USAGE;
    }
    return Pack(parsed.operands[0], parsed.entries, parsed.layout, out);
}

}  // namespace PackageToolSp
