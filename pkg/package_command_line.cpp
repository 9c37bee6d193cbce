#include "pkg/package_command_line.h"

#include "cmdline/companion_command_line.h"
#include "pkg/package_tool.h"

namespace PackageToolSp {

namespace {

constexpr const char* DESCRIPTION =
    "Shows, checks, unpacks and builds fwpkg firmware packages with the package code of tarnwickcmd.";
constexpr const char* FOOTER = "Exit codes: 0 done or accepted, 1 refused or failed, 2 wrong command line.";

// Everything the sub-commands take; each sub-command fills only its own part.
struct Request {
    std::string package;
    std::string directory;
    std::string family;
    std::string layout = "normal";
    std::vector<std::string> entries;
};

void AddFamily(CLI::App& command, Request& request)
{
    std::vector<std::string> keys;
    size_t count = 0;
    const Common::ChipFamily* const* families = Common::FamiliesWithKey(count);
    for (size_t i = 0; i < count; ++i) {
        keys.push_back(families[i]->key);
    }
    command.add_option("--family", request.family, "read the package as this family's burn does")
        ->check(CLI::IsMember(keys));
}

CLI::Validator PackEntryCheck()
{
    auto check = [](const std::string& text) {
        PackEntry entry;
        std::string error;
        return ParsePackEntry(text, entry, error) ? std::string() : error;
    };
    return CLI::Validator(check, "");
}

// The option's check has refused any name without a row.
Family FamilyOf(const Request& request)
{
    return Common::FamilyByKey(request.family);
}

int RunPack(const Request& request, std::ostream& out)
{
    std::vector<PackEntry> entries;
    for (const std::string& text : request.entries) {
        PackEntry entry;
        std::string error;
        (void)ParsePackEntry(text, entry, error);  // checked while parsing
        entries.push_back(entry);
    }
    const auto layout = request.layout == "new" ? Common::FwpkgLayout::NEW : Common::FwpkgLayout::NORMAL;
    return Pack(request.package, entries, layout, out);
}

}  // namespace

int RunPackageTool(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err)
{
    CLI::App app(DESCRIPTION, "tarnwick-pkg");
    // -v is how the version was always asked for.
    CompanionCli::Configure(app, "-v,-V,--version");
    app.footer(FOOTER);
    app.require_subcommand(1);
    Request request;

    CLI::App* info = app.add_subcommand("info", "header, CRC and one row per image, with warnings");
    info->add_option("PKG", request.package, "the package")->required();
    AddFamily(*info, request);

    CLI::App* verify = app.add_subcommand("verify", "exit 0 when tarnwickcmd would take the package, 1 when not");
    verify->add_option("PKG", request.package, "the package")->required();
    AddFamily(*verify, request);

    CLI::App* extract =
        app.add_subcommand("extract", "every image with its _sha256 digest file into DIR, as the TypeSix job does");
    extract->add_option("PKG", request.package, "the package")->required();
    extract->add_option("DIR", request.directory, "where the images go (created when missing)")->required();

    CLI::App* pack = app.add_subcommand("pack", "a package of the given images");
    pack->add_option("OUT", request.package, "the package to write")->required();
    pack->add_option("--entry", request.entries,
                     "one image: name:type:address:size:file, numbers 0x hexadecimal or decimal with k, m or g")
        ->required()
        ->type_name("NAME:TYPE:ADDRESS:SIZE:FILE")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->check(PackEntryCheck());
    pack->add_option("--layout", request.layout, "normal (the default) or new")
        ->check(CLI::IsMember({"normal", "new"}));

    if (const std::optional<int> done = CompanionCli::Parse(app, arguments, out, err)) {
        return *done;
    }
    if (info->parsed()) {
        return Info(request.package, FamilyOf(request), out);
    }
    if (verify->parsed()) {
        return Verify(request.package, FamilyOf(request), out);
    }
    if (extract->parsed()) {
        return Extract(request.package, request.directory, out);
    }
    return RunPack(request, out);
}

}  // namespace PackageToolSp
