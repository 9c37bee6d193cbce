#include "pkg/package_tool.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <system_error>

#include "cmdline/companion_command_line.h"
#include "common/console.h"
#include "common/fwpkg_format.h"
#include "device/burn_vb27_chip.h"
#include "jobs/fwpkg.h"
#include "platform/file_access.h"

namespace PackageToolSp {

namespace {

constexpr size_t COPY_CHUNK_SIZE = 64 * 1024;
const char* const TEMPORARY_SUFFIX = ".tmp";

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// --- numbers and text -------------------------------------------------------------

std::string Hex32(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", value);
    return text;
}

std::string Hex16(uint16_t value)
{
    char text[8];
    std::snprintf(text, sizeof(text), "0x%04X", value);
    return text;
}

// Names come from the file: control bytes and bytes above ASCII are shown
// escaped so that a package cannot drive the terminal.
std::string Printable(const std::string& text)
{
    std::string out;
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7F || b == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\x%02X", b);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

std::string Quoted(const std::string& name)
{
    return "\"" + Printable(name) + "\"";
}

std::string EntryLabel(size_t index, const Common::FileHead& entry)
{
    return "entry " + std::to_string(index) + " " + Quoted(entry.name);
}

std::string PadRight(const std::string& text, size_t width)
{
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string PadLeft(const std::string& text, size_t width)
{
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

// --- files -------------------------------------------------------------------------

bool FileLength(const std::string& path, uint64_t& length, std::ostream& out)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::u8path(path), error)) {
        out << "error: " << path << " is not a readable file\n";
        return false;
    }
    length = std::filesystem::file_size(std::filesystem::u8path(path), error);
    if (error) {
        out << "error: cannot read the size of " << path << ": " << error.message() << "\n";
        return false;
    }
    return true;
}

// The first `want` bytes of the file, or all of it when it is shorter.
bool ReadFilePrefix(const std::string& path, uint64_t want, std::vector<uint8_t>& bytes, std::ostream& out)
{
    FilePtr file(Platform::OpenFile(path.c_str(), "rb"));
    if (!file) {
        out << "error: cannot open " << path << ": " << std::strerror(errno) << "\n";
        return false;
    }
    bytes.assign(static_cast<size_t>(want), 0);
    const size_t got = std::fread(bytes.data(), 1, bytes.size(), file.get());
    if (std::ferror(file.get()) != 0) {
        out << "error: cannot read " << path << "\n";
        return false;
    }
    bytes.resize(got);
    return true;
}

// Header and entry table, as far as the file holds them.
bool ReadPackageTable(const std::string& path, uint64_t fileLength, std::vector<uint8_t>& bytes, std::ostream& out)
{
    if (!ReadFilePrefix(path, std::min<uint64_t>(fileLength, Common::FWPKG_HEAD_PREFIX_LENGTH), bytes, out)) {
        return false;
    }
    Common::FwpkgHead head;
    Common::FwpkgLayoutInfo layout = Common::FWPKG_NORMAL_LAYOUT;
    if (!Common::ReadFwpkgHead(bytes.data(), bytes.size(), head) || !Common::GetFwpkgLayout(head.flag, layout)) {
        return true;  // the check names what is wrong
    }
    const uint64_t tableLength = Common::GetFwpkgTableLength(layout, head.count);
    return ReadFilePrefix(path, std::min(tableLength, fileLength), bytes, out);
}

const char* LayoutName(const Common::FwpkgLayoutInfo& layout)
{
    return layout.layout == Common::FwpkgLayout::NORMAL ? "normal" : "new";
}

// Why a table cannot be listed at all; empty when it can.
std::string TableFault(Common::FwpkgCheck check, const Common::FwpkgTable& table, uint64_t fileLength)
{
    switch (check) {
        case Common::FwpkgCheck::SHORT_HEAD:
            return "the file has " + std::to_string(fileLength) + " bytes, fewer than a package header";
        case Common::FwpkgCheck::UNKNOWN_FLAG:
            return "flag " + Hex32(table.head.flag) + " is not a fwpkg flag (" +
                   Hex32(Common::FWPKG_FLAG_NORMAL) + " normal, " + Hex32(Common::FWPKG_FLAG_NEW_START) + " to " +
                   Hex32(Common::FWPKG_FLAG_NEW_END) + " new)";
        case Common::FwpkgCheck::COUNT_INVALID:
            return "image count 0xFFFF marks an invalid package";
        case Common::FwpkgCheck::TABLE_PAST_END:
            return "the entry table of " + std::to_string(table.head.count) + " entries (" +
                   std::to_string(Common::GetFwpkgTableLength(table.layout, table.head.count)) +
                   " bytes) reaches past the end of the file (" + std::to_string(fileLength) + " bytes)";
        default:
            return "";
    }
}

struct Listing {
    uint64_t fileLength = 0;
    Common::FwpkgCheck check = Common::FwpkgCheck::OK;
    Common::FwpkgTable table;
};

// Reads and checks the table; false after a message when there is none to show.
bool ListPackage(const std::string& path, Listing& listing, std::ostream& out)
{
    std::vector<uint8_t> bytes;
    if (!FileLength(path, listing.fileLength, out) || !ReadPackageTable(path, listing.fileLength, bytes, out)) {
        return false;
    }
    listing.check = Common::CheckFwpkgTable(bytes.data(), bytes.size(), listing.fileLength, 0, listing.table);
    const std::string fault = TableFault(listing.check, listing.table, listing.fileLength);
    if (!fault.empty()) {
        out << "error: " << path << ": " << fault << "\n";
        return false;
    }
    return true;
}

// --- warnings of info ----------------------------------------------------------------

std::vector<std::string> PastEndWarnings(const Listing& listing)
{
    std::vector<std::string> warnings;
    const std::vector<Common::FileHead>& entries = listing.table.entries;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (!Common::FwpkgEntryWithinFile(entries[i], listing.fileLength)) {
            warnings.push_back(EntryLabel(i, entries[i]) + " (offset " + std::to_string(entries[i].offset) +
                               ", length " + std::to_string(entries[i].length) +
                               ") reaches past the end of the file (" + std::to_string(listing.fileLength) +
                               " bytes)");
        }
    }
    return warnings;
}

// Entries whose image bytes overlap the table or another entry's image. Sorted
// by offset, each image is compared with the one before it that reaches
// furthest, so every overlapping entry is named without comparing all pairs.
std::vector<std::string> OverlapWarnings(const Listing& listing)
{
    std::vector<std::string> warnings;
    const std::vector<Common::FileHead>& entries = listing.table.entries;
    const uint64_t tableLength = Common::GetFwpkgTableLength(listing.table.layout, listing.table.head.count);
    std::vector<size_t> order;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].length == 0) {
            continue;
        }
        order.push_back(i);
        if (entries[i].offset < tableLength) {
            warnings.push_back(EntryLabel(i, entries[i]) + " (offset " + std::to_string(entries[i].offset) +
                               ") overlaps the header and entry table (" + std::to_string(tableLength) + " bytes)");
        }
    }
    std::stable_sort(order.begin(), order.end(),
                     [&entries](size_t a, size_t b) { return entries[a].offset < entries[b].offset; });
    bool haveReach = false;
    size_t furthest = 0;
    uint64_t reach = 0;
    for (size_t i : order) {
        const uint64_t start = entries[i].offset;
        const uint64_t end = start + entries[i].length;
        if (haveReach && start < reach) {
            const uint64_t sharedEnd = std::min(end, reach);
            warnings.push_back(EntryLabel(i, entries[i]) + " overlaps " + EntryLabel(furthest, entries[furthest]) +
                               " (bytes " + std::to_string(start) + " to " + std::to_string(sharedEnd - 1) + ")");
        }
        if (!haveReach || end > reach) {
            haveReach = true;
            reach = end;
            furthest = i;
        }
    }
    return warnings;
}

// Two entries that unpack to the same file: the later one overwrites the
// earlier image or its digest file.
std::vector<std::string> NameClashes(const std::vector<Common::FileHead>& entries)
{
    std::vector<std::string> clashes;
    std::map<std::string, size_t> owners;
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::string names[] = {entries[i].name, FwpkgSp::GetSha256FilePath(entries[i].name)};
        for (const std::string& file : names) {
            auto found = owners.find(file);
            if (found != owners.end() && found->second != i) {
                clashes.push_back(EntryLabel(i, entries[i]) + " and " +
                                  EntryLabel(found->second, entries[found->second]) + " both unpack to " +
                                  Quoted(file));
            } else {
                owners.emplace(file, i);
            }
        }
    }
    return clashes;
}

// --- image type readings ----------------------------------------------------------

std::string Vb27Meaning(uint32_t type)
{
    switch (Common::Vb27CommandForImageType(type)) {
        case Common::Vb27ImageCommand::NONE: return "loader";
        case Common::Vb27ImageCommand::NV_KV: return "NV/KV";
        case Common::Vb27ImageCommand::OTP_EFUSE: return "OTP/eFuse configuration";
        case Common::Vb27ImageCommand::FACTORY: return "factory image";
        case Common::Vb27ImageCommand::VERSION: return "version";
        case Common::Vb27ImageCommand::NOT_SENT: return "not burned";
        case Common::Vb27ImageCommand::FLASH_IMAGE: break;
    }
    switch (Common::Vb27FormatForImageType(type)) {
        case Common::Vb27ImageFormat::ROM: return "ROM-format image";
        case Common::Vb27ImageFormat::EMMC: return "eMMC-format image";
        default: return "flash image";
    }
}

// As the TypeSix burn job treats the type.
std::string TypeSixMeaning(uint32_t type)
{
    int fileType = 0;
    if (type == Common::TYPESIX_IMAGE_SSB) {
        return "loader (ssb through the boot ROM)";
    }
    if (Common::TypeSixJobFileType(type, fileType)) {
        return "image, file type " + std::to_string(fileType);
    }
    switch (type) {
        case Common::TYPESIX_IMAGE_SSB_DIGEST: return "ssb digest, not burned";
        case Common::TYPESIX_IMAGE_SMALL_SSB: return "small ssb, not burned";
        case Common::TYPESIX_IMAGE_SMALL_SSB_DIGEST: return "small ssb digest, not burned";
        case Common::TYPESIX_IMAGE_DIGEST: return "image digest, not burned";
        default: return "not burned";
    }
}

// --- verify ------------------------------------------------------------------------

// The Vb27 chip object's own package check; its refusal is the reason.
bool Vb27ChipAccepts(const std::string& path, uint64_t fileLength, std::string& reason, std::ostream& out)
{
    if (fileLength > UINT32_MAX) {
        reason = "the package is larger than 4 GiB";
        return false;
    }
    std::vector<uint8_t> bytes;
    if (!ReadFilePrefix(path, fileLength, bytes, out)) {
        reason = "the package cannot be read";
        return false;
    }
    BurnVb27ChipSp::BurnVb27Chip chip;
    const bool accepted = chip.CheckFwpkgHeadData(bytes.data(), static_cast<uint32_t>(bytes.size()));
    reason = chip.Report().Failure().Summary();
    return accepted;
}

// The checks every reader makes.
bool WellFormed(const std::string& path, std::string& reason, std::ostream& out)
{
    Listing listing;
    std::vector<uint8_t> bytes;
    if (!FileLength(path, listing.fileLength, out) || !ReadPackageTable(path, listing.fileLength, bytes, out)) {
        reason = "the package cannot be read";
        return false;
    }
    listing.check = Common::CheckFwpkgTable(bytes.data(), bytes.size(), listing.fileLength, 0, listing.table);
    switch (listing.check) {
        case Common::FwpkgCheck::OK:
            break;
        case Common::FwpkgCheck::CRC_MISMATCH:
            reason = "header CRC mismatch: stored " + Hex16(listing.table.head.crc) + ", computed " +
                     Hex16(listing.table.computedCrc);
            return false;
        case Common::FwpkgCheck::ENTRY_PAST_END: {
            const std::vector<std::string> pastEnd = PastEndWarnings(listing);
            reason = pastEnd.empty() ? "an image reaches past the end of the file" : pastEnd.front();
            return false;
        }
        default:
            reason = TableFault(listing.check, listing.table, listing.fileLength);
            return false;
    }
    for (size_t i = 0; i < listing.table.entries.size(); ++i) {
        if (!Common::IsSafeFwpkgImageName(listing.table.entries[i].name)) {
            reason = EntryLabel(i, listing.table.entries[i]) + " has a name that is not a plain file name";
            return false;
        }
    }
    return true;
}

// --- pack --------------------------------------------------------------------------

bool CheckPackEntries(const std::vector<PackEntry>& entries, const Common::FwpkgLayoutInfo& layout,
                      std::ostream& out)
{
    if (entries.empty()) {
        out << "error: pack needs at least one --entry\n";
        return false;
    }
    if (entries.size() >= Common::FWPKG_MAX_IMAGE_COUNT) {
        out << "error: " << entries.size() << " entries: the chip objects take at most "
            << Common::FWPKG_MAX_IMAGE_COUNT - 1 << "\n";
        return false;
    }
    std::set<std::string> seen;
    for (const PackEntry& entry : entries) {
        if (!Common::IsSafeFwpkgImageName(entry.name)) {
            out << "error: image name " << Quoted(entry.name)
                << " is not a plain file name (empty, or holds \"/\", \"\\\" or \"..\")\n";
            return false;
        }
        if (entry.name.size() > layout.nameLength) {
            out << "error: image name " << Quoted(entry.name) << " is longer than " << layout.nameLength
                << " bytes, the name field of the " << LayoutName(layout) << " layout\n";
            return false;
        }
        if (!seen.insert(entry.name).second || !seen.insert(FwpkgSp::GetSha256FilePath(entry.name)).second) {
            out << "error: image name " << Quoted(entry.name)
                << " would unpack onto another image or its digest file\n";
            return false;
        }
    }
    return true;
}

// Entry table rows with offsets: images follow the table in entry order.
bool PlanPackage(const std::vector<PackEntry>& entries, const Common::FwpkgLayoutInfo& layout,
                 std::vector<Common::FileHead>& heads, std::ostream& out)
{
    uint64_t offset = Common::GetFwpkgTableLength(layout, static_cast<uint32_t>(entries.size()));
    for (const PackEntry& entry : entries) {
        uint64_t length = 0;
        if (!FileLength(entry.file, length, out)) {
            return false;
        }
        if (offset + length > UINT32_MAX) {
            out << "error: image " << entry.file << " would end beyond the 4 GiB a package can address\n";
            return false;
        }
        Common::FileHead head;
        head.name = entry.name;
        head.offset = static_cast<uint32_t>(offset);
        head.length = static_cast<uint32_t>(length);
        head.burnAddress = entry.burnAddress;
        head.burnSize = entry.burnSize;
        head.type = entry.type;
        heads.push_back(head);
        offset += length;
    }
    return true;
}

// Copies exactly length bytes; a file that changed size since it was measured fails.
bool CopyImage(const std::string& path, uint32_t length, FILE* to, std::ostream& out)
{
    FilePtr from(Platform::OpenFile(path.c_str(), "rb"));
    if (!from) {
        out << "error: cannot open " << path << ": " << std::strerror(errno) << "\n";
        return false;
    }
    std::vector<uint8_t> chunk(COPY_CHUNK_SIZE);
    uint64_t left = length;
    while (left > 0) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(left, chunk.size()));
        const size_t got = std::fread(chunk.data(), 1, want, from.get());
        if (got == 0) {
            break;
        }
        if (std::fwrite(chunk.data(), 1, got, to) != got) {
            out << "error: cannot write the package: " << std::strerror(errno) << "\n";
            return false;
        }
        left -= got;
    }
    if (left != 0 || std::fgetc(from.get()) != EOF) {
        out << "error: " << path << " changed size while it was packed\n";
        return false;
    }
    return true;
}

bool WritePackage(const std::string& temporary, const std::vector<uint8_t>& table,
                  const std::vector<PackEntry>& entries, const std::vector<Common::FileHead>& heads,
                  std::ostream& out)
{
    FilePtr file(Platform::OpenFile(temporary.c_str(), "wb"));
    if (!file) {
        out << "error: cannot create " << temporary << ": " << std::strerror(errno) << "\n";
        return false;
    }
    if (std::fwrite(table.data(), 1, table.size(), file.get()) != table.size()) {
        out << "error: cannot write the package: " << std::strerror(errno) << "\n";
        return false;
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        if (!CopyImage(entries[i].file, heads[i].length, file.get(), out)) {
            return false;
        }
    }
    if (std::fclose(file.release()) != 0) {
        out << "error: cannot write the package: " << std::strerror(errno) << "\n";
        return false;
    }
    return true;
}

}  // namespace

std::string ImageTypeMeaning(uint32_t type, Family family)
{
    switch (family != nullptr ? family->images : Common::ImageReading::NONE) {
        case Common::ImageReading::VB27:
            return Vb27Meaning(type);
        case Common::ImageReading::TYPESIX:
            return TypeSixMeaning(type);
        case Common::ImageReading::NONE:
            break;
    }
    return "vb27: " + Vb27Meaning(type) + "; typesix: " + TypeSixMeaning(type);
}

bool ParseNumber32(const std::string& text, uint32_t& value)
{
    uint64_t number = 0;
    if (!CompanionCli::ParseNumber(text, number) || number > UINT32_MAX) {
        return false;
    }
    value = static_cast<uint32_t>(number);
    return true;
}

bool ParsePackEntry(const std::string& text, PackEntry& entry, std::string& error)
{
    // The file comes last so that its path may hold ":".
    std::vector<std::string> fields;
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t colon = text.find(':', start);
        if (colon == std::string::npos) {
            error = "--entry " + text + ": expected name:type:address:size:file";
            return false;
        }
        fields.push_back(text.substr(start, colon - start));
        start = colon + 1;
    }
    fields.push_back(text.substr(start));
    const char* const NAMES[] = {"type", "address", "size"};
    uint32_t* const TARGETS[] = {&entry.type, &entry.burnAddress, &entry.burnSize};
    for (int i = 0; i < 3; ++i) {
        if (!ParseNumber32(fields[static_cast<size_t>(i) + 1], *TARGETS[i])) {
            error = "--entry " + text + ": " + NAMES[i] + " \"" + fields[static_cast<size_t>(i) + 1] +
                    "\" is not a 32-bit number";
            return false;
        }
    }
    entry.name = fields[0];
    entry.file = fields[4];
    if (entry.file.empty()) {
        error = "--entry " + text + ": no image file";
        return false;
    }
    return true;
}

int Info(const std::string& package, Family family, std::ostream& out)
{
    Listing listing;
    if (!ListPackage(package, listing, out)) {
        return EXIT_REFUSED;
    }
    const Common::FwpkgTable& table = listing.table;
    const bool crcMatches = table.computedCrc == table.head.crc;
    out << "package  " << package << " (" << listing.fileLength << " bytes)\n";
    out << "layout   " << LayoutName(table.layout) << " (flag " << Hex32(table.head.flag) << ")\n";
    out << "count    " << table.head.count << "\n";
    out << "crc      stored " << Hex16(table.head.crc) << ", computed " << Hex16(table.computedCrc)
        << (crcMatches ? ", matches\n" : ", MISMATCH\n");

    std::vector<std::string> names;
    std::vector<std::string> meanings;
    size_t nameWidth = 4;
    size_t meaningWidth = 7;
    for (const Common::FileHead& entry : table.entries) {
        names.push_back(Printable(entry.name));
        meanings.push_back(ImageTypeMeaning(entry.type, family));
        nameWidth = std::max(nameWidth, names.back().size());
        meaningWidth = std::max(meaningWidth, meanings.back().size());
    }
    if (!table.entries.empty()) {
        out << PadLeft("#", 4) << "  " << PadRight("name", nameWidth) << "  " << PadLeft("type", 5) << "  "
            << PadRight("meaning", meaningWidth) << "  " << PadLeft("offset", 10) << "  " << PadLeft("length", 10)
            << "  " << PadLeft("address", 10) << "  " << PadLeft("size", 10) << "\n";
    }
    for (size_t i = 0; i < table.entries.size(); ++i) {
        const Common::FileHead& entry = table.entries[i];
        out << PadLeft(std::to_string(i), 4) << "  " << PadRight(names[i], nameWidth) << "  "
            << PadLeft(std::to_string(entry.type), 5) << "  " << PadRight(meanings[i], meaningWidth) << "  "
            << Hex32(entry.offset) << "  " << PadLeft(std::to_string(entry.length), 10) << "  "
            << Hex32(entry.burnAddress) << "  " << Hex32(entry.burnSize) << "\n";
    }

    std::vector<std::string> warnings;
    if (!crcMatches) {
        warnings.push_back("header CRC mismatch: stored " + Hex16(table.head.crc) + ", computed " +
                           Hex16(table.computedCrc) + "; tarnwickcmd refuses this package");
    }
    for (const std::vector<std::string>& more : {PastEndWarnings(listing), OverlapWarnings(listing)}) {
        warnings.insert(warnings.end(), more.begin(), more.end());
    }
    for (const std::string& warning : warnings) {
        out << "warning: " << warning << "\n";
    }
    return EXIT_OK;
}

int Extract(const std::string& package, const std::string& dir, std::ostream& out)
{
    // The job's own listing, with its refusals (CRC, bounds, names).
    std::vector<BurnInfo::FwpkgBinInfo> list;
    const Common::Outcome listed = FwpkgSp::ParseFwpkgFile(package, list);
    if (!listed.Ok()) {
        out << listed.message << "error: " << package << " is refused; nothing was extracted\n";
        return EXIT_REFUSED;
    }
    std::vector<Common::FileHead> heads;
    for (const BurnInfo::FwpkgBinInfo& info : list) {
        Common::FileHead head;
        head.name = info.imageName;
        heads.push_back(head);
    }
    const std::vector<std::string> clashes = NameClashes(heads);
    if (!clashes.empty()) {
        for (const std::string& clash : clashes) {
            out << "error: " << clash << "\n";
        }
        out << "error: " << package << " is refused; nothing was extracted\n";
        return EXIT_REFUSED;
    }
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::u8path(dir), error);
    if (!std::filesystem::is_directory(std::filesystem::u8path(dir), error)) {
        out << "error: cannot create directory " << dir << "\n";
        return EXIT_REFUSED;
    }
    const std::string target = (!dir.empty() && dir.back() == '/') ? dir : dir + "/";
    const Common::Outcome unpacked = FwpkgSp::UnpackFwpkgImages(package, list, target);
    if (!unpacked.Ok()) {
        out << unpacked.message << "error: extraction of " << package << " stopped\n";
        return EXIT_REFUSED;
    }
    for (const BurnInfo::FwpkgBinInfo& info : list) {
        out << target << info.imageName << "  (" << info.length << " bytes, digest "
            << FwpkgSp::GetSha256FilePath(target + info.imageName) << ")\n";
    }
    out << list.size() << " image" << (list.size() == 1 ? "" : "s") << " extracted to " << target << "\n";
    return EXIT_OK;
}

int Pack(const std::string& output, const std::vector<PackEntry>& entries, Common::FwpkgLayout layout,
         std::ostream& out)
{
    const Common::FwpkgLayoutInfo& info =
        layout == Common::FwpkgLayout::NORMAL ? Common::FWPKG_NORMAL_LAYOUT : Common::FWPKG_NEW_LAYOUT;
    const uint32_t flag = layout == Common::FwpkgLayout::NORMAL ? Common::FWPKG_FLAG_NORMAL
                                                                 : Common::FWPKG_FLAG_NEW_START;
    std::vector<Common::FileHead> heads;
    if (!CheckPackEntries(entries, info, out) || !PlanPackage(entries, info, heads, out)) {
        return EXIT_REFUSED;
    }
    std::vector<uint8_t> table;
    if (!Common::BuildFwpkgTable(flag, heads, table)) {
        out << "error: cannot build the entry table\n";
        return EXIT_REFUSED;
    }
    const std::string temporary = output + TEMPORARY_SUFFIX;
    if (!WritePackage(temporary, table, entries, heads, out)) {
        Platform::RemoveFile(temporary);
        return EXIT_REFUSED;
    }
    if (Platform::MoveIntoPlace(temporary, output) != 0) {
        out << "error: cannot create " << output << ": " << std::strerror(errno) << "\n";
        Platform::RemoveFile(temporary);
        return EXIT_REFUSED;
    }
    const uint64_t total = heads.empty() ? table.size() : uint64_t{heads.back().offset} + heads.back().length;
    out << "packed " << heads.size() << " image" << (heads.size() == 1 ? "" : "s") << " into " << output << " ("
        << LayoutName(info) << " layout, " << total << " bytes, CRC "
        << Hex16(static_cast<uint16_t>(table[Common::FWPKG_CRC_OFFSET] | (table[Common::FWPKG_CRC_OFFSET + 1] << 8)))
        << ")\n";
    return EXIT_OK;
}

int Verify(const std::string& package, Family family, std::ostream& out)
{
    std::string reason;
    bool accepted = false;
    const char* reader = family != nullptr ? family->key : "every reader";
    switch (family != nullptr ? family->packageCheck : Common::PackageCheck::NONE) {
        case Common::PackageCheck::LOADER_FIRST: {
            uint64_t fileLength = 0;
            accepted = FileLength(package, fileLength, out) && Vb27ChipAccepts(package, fileLength, reason, out);
            break;
        }
        case Common::PackageCheck::LISTING: {
            std::vector<BurnInfo::FwpkgBinInfo> list;
            const Common::Outcome listed = FwpkgSp::ParseFwpkgFile(package, list);
            accepted = listed.Ok();
            if (!accepted) {
                out << listed.message;
                reason = "the TypeSix job refuses the package (see the message above)";
            } else {
                std::vector<Common::FileHead> heads;
                for (const BurnInfo::FwpkgBinInfo& info : list) {
                    Common::FileHead head;
                    head.name = info.imageName;
                    heads.push_back(head);
                }
                for (const std::string& clash : NameClashes(heads)) {
                    out << "warning: " << clash << "; the job burns the later image for both\n";
                }
            }
            break;
        }
        case Common::PackageCheck::NONE:
            accepted = WellFormed(package, reason, out);
            break;
    }
    if (accepted) {
        out << package << ": accepted (" << reader << ")\n";
        return EXIT_OK;
    }
    out << package << ": refused (" << reader << ")" << (reason.empty() ? "" : ": " + reason) << "\n";
    return EXIT_REFUSED;
}

}  // namespace PackageToolSp
