#include "jobs/fwpkg.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <system_error>

#include "common/chip_family.h"
#include "common/printf_format.h"
#include "common/text_format.h"
#include "common/fwpkg_format.h"
#include "common/sha256_util.h"
#include "platform/file_access.h"

namespace FwpkgSp {

namespace {

// Large enough that copying and hashing a 64 MiB package costs little CPU.
constexpr size_t COPY_CHUNK_SIZE = 64 * 1024;
constexpr char SHA256_SUFFIX[] = "_sha256";
constexpr char EXTRACT_SUFFIX[] = "_extract/";

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Another run may be unpacking the same package into the same directory at
// this moment: every file is written under a name of this run's own and
// renamed into place, so a reader sees one whole file or the other, never
// one being truncated and rewritten.
std::string PrivateName(const std::string& path)
{
    static std::mt19937_64 generator{std::random_device{}()};
    return path + ".part-" + std::to_string(generator());
}

bool RenameInto(const std::string& from, const std::string& to)
{
    if (Platform::MoveIntoPlace(from, to) != 0) {
        Platform::RemoveFile(from);
        return false;
    }
    return true;
}

bool FileLength(const std::string& path, uint64_t& length)
{
    std::error_code error;
    length = std::filesystem::file_size(std::filesystem::u8path(path), error);
    return !error;
}

size_t LastSeparator(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash != std::string::npos ? slash : path.rfind('\\');
}

constexpr Common::OutcomeKind REFUSED = Common::OutcomeKind::PACKAGE_REFUSED;
constexpr Common::OutcomeKind FILE_FAILED = Common::OutcomeKind::FILE;

Common::Outcome Failure(Common::OutcomeKind kind, const char* format, ...) TARNWICK_PRINTF_FORMAT(2, 3);

Common::Outcome Failure(Common::OutcomeKind kind, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = Common::FormatTextV(format, args);
    va_end(args);
    return Common::Outcome::Failure(kind, std::move(text));
}

// Refuses what the job must not list, each with its own message.
Common::Outcome CheckTable(Common::FwpkgCheck check, const Common::FwpkgTable& table, uint64_t fileLength,
                           const std::string& path)
{
    switch (check) {
        case Common::FwpkgCheck::OK:
            return Common::Outcome();
        case Common::FwpkgCheck::CRC_MISMATCH:
            return Failure(REFUSED, "error: fwpkg header CRC mismatch (calculated 0x%04x, stored 0x%04x): %s\n",
                           table.computedCrc, table.head.crc, path.c_str());
        case Common::FwpkgCheck::ENTRY_PAST_END: {
            const Common::FileHead& entry = table.entries[table.badEntry];
            return Failure(REFUSED,
                           "error: Image %s (offset %u, length %u) reaches past the end of fwpkg file %s (%llu bytes)\n",
                           entry.name.c_str(), entry.offset, entry.length, path.c_str(),
                           static_cast<unsigned long long>(fileLength));
        }
        case Common::FwpkgCheck::TABLE_PAST_END:
            return Failure(REFUSED, "error: fwpkg entry table of %u entries reaches past the end of the file: %s\n",
                           static_cast<unsigned>(table.head.count), path.c_str());
        default:
            return Failure(REFUSED, "error: Unknown fwpkg format, flag: 0x%x\n", table.head.flag);
    }
}

}  // namespace

Common::Outcome ParseFwpkgFile(const std::string& path, std::vector<BurnInfo::FwpkgBinInfo>& out)
{
    FilePtr file(Platform::OpenFile(path.c_str(), "rb"));
    if (!file) {
        return Failure(FILE_FAILED, "error: Failed to open fwpkg file: %s\n", path.c_str());
    }
    uint8_t header[Common::FWPKG_NORMAL_LAYOUT.headerLength];
    uint64_t fileLength = 0;
    if (std::fread(header, 1, sizeof(header), file.get()) != sizeof(header) || !FileLength(path, fileLength)) {
        return Failure(REFUSED, "error: Failed to read fwpkg header\n");
    }
    Common::FwpkgHead head;
    Common::FwpkgLayoutInfo layout = Common::FWPKG_NORMAL_LAYOUT;
    Common::ReadFwpkgHead(header, sizeof(header), head);
    if (!Common::GetFwpkgLayout(head.flag, layout) || head.count == Common::FWPKG_COUNT_INVALID) {
        return Failure(REFUSED, "error: Unknown fwpkg format, flag: 0x%x\n", head.flag);
    }

    // Read no more than the file holds: a table cut short is refused below,
    // never padded with zeros.
    const uint64_t tableLength = Common::GetFwpkgTableLength(layout, head.count);
    std::vector<uint8_t> table(static_cast<size_t>(tableLength < fileLength ? tableLength : fileLength));
    if (std::fseek(file.get(), 0, SEEK_SET) != 0 ||
        std::fread(table.data(), 1, table.size(), file.get()) != table.size()) {
        return Failure(REFUSED, "error: Failed to read fwpkg header\n");
    }
    Common::FwpkgTable parsed;
    Common::FwpkgCheck check = Common::CheckFwpkgTable(table.data(), table.size(), fileLength, 0, parsed);
    const Common::Outcome refused = CheckTable(check, parsed, fileLength, path);
    if (!refused.Ok()) {
        return refused;
    }
    // Names become file names in the extract directory.
    for (const Common::FileHead& entry : parsed.entries) {
        if (!Common::IsSafeFwpkgImageName(entry.name)) {
            return Failure(REFUSED, "error: Image name \"%s\" in fwpkg file %s is not a plain file name\n",
                           entry.name.c_str(), path.c_str());
        }
    }
    for (const Common::FileHead& entry : parsed.entries) {
        BurnInfo::FwpkgBinInfo info;
        info.filePath = path;
        info.imageName = entry.name;
        info.offset = entry.offset;
        info.length = entry.length;
        info.burnAddress = entry.burnAddress;
        info.burnSize = entry.burnSize;
        info.imageType = entry.type;
        out.push_back(info);
    }
    return Common::Outcome();
}

bool FilterByOnlyBurn(std::vector<BurnInfo::FwpkgBinInfo>& list, const std::vector<std::string>& onlyBurnNames,
                      const Common::ChipFamily& family)
{
    if (onlyBurnNames.empty()) {
        return true;
    }
    std::vector<BurnInfo::FwpkgBinInfo> kept;
    for (BurnInfo::FwpkgBinInfo& info : list) {
        const bool selected = std::any_of(onlyBurnNames.begin(), onlyBurnNames.end(), [&info, &family](const std::string& given) {
            return Common::OnlyBurnSelects(family, info.imageName, given);
        });
        if (selected) {
            kept.push_back(std::move(info));
        }
    }
    list = std::move(kept);
    return true;
}

Common::Outcome ExtractBinFromFwpkg(const std::string& package, const std::string& output, unsigned int offset,
                                    unsigned int length)
{
    FilePtr in(Platform::OpenFile(package.c_str(), "rb"));
    if (!in) {
        return Failure(FILE_FAILED, "error: Failed to open fwpkg file: %s\n", package.c_str());
    }
    if (std::fseek(in.get(), static_cast<long>(offset), SEEK_SET) != 0) {
        return Failure(FILE_FAILED, "error: Failed to seek to position %u in fwpkg file\n", offset);
    }
    const std::string partial = PrivateName(output);
    FilePtr out(Platform::OpenFile(partial.c_str(), "wb"));
    if (!out) {
        return Failure(FILE_FAILED, "error: Failed to create output file: %s\n", output.c_str());
    }
    std::vector<uint8_t> chunk(COPY_CHUNK_SIZE);
    uint64_t left = length;
    while (left > 0) {
        size_t want = left < chunk.size() ? static_cast<size_t>(left) : chunk.size();
        size_t got = std::fread(chunk.data(), 1, want, in.get());
        if (got == 0) {
            break;
        }
        if (std::fwrite(chunk.data(), 1, got, out.get()) != got) {
            out.reset();
            Platform::RemoveFile(partial);
            return Failure(FILE_FAILED, "error: Failed to write output file: %s\n", output.c_str());
        }
        left -= got;
    }
    // A short image must not be left behind to be burned as if it were whole.
    if (left > 0) {
        out.reset();
        Platform::RemoveFile(partial);
        return Failure(REFUSED, "error: Image at offset %u with length %u reaches past the end of fwpkg file: %s\n",
                       offset, length, package.c_str());
    }
    if (std::fclose(out.release()) != 0) {
        Platform::RemoveFile(partial);
        return Failure(FILE_FAILED, "error: Failed to write output file: %s\n", output.c_str());
    }
    if (!RenameInto(partial, output)) {
        return Failure(FILE_FAILED, "error: Failed to write output file: %s\n", output.c_str());
    }
    return Common::Outcome();
}

// Only a dot of the file name counts: a dot in a directory name (a versioned
// folder, a package named fw.v2) would send the digest into another directory.
std::string GetSha256FilePath(const std::string& path)
{
    size_t dot = path.rfind('.');
    size_t separator = path.find_last_of("/\\");
    if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) {
        return path + SHA256_SUFFIX;
    }
    return path.substr(0, dot) + SHA256_SUFFIX + path.substr(dot);
}

bool CreateSha256File(const std::string& path)
{
    FilePtr in(Platform::OpenFile(path.c_str(), "rb"));
    if (!in) {
        return false;
    }
    // The project's own digest: the same bytes on every platform, no crypto
    // library to ship with the Windows build.
    Sha256Util::Context context;
    std::vector<uint8_t> chunk(COPY_CHUNK_SIZE);
    for (;;) {
        size_t got = std::fread(chunk.data(), 1, chunk.size(), in.get());
        context.update(chunk.data(), got);
        if (got < chunk.size()) {
            if (std::ferror(in.get()) != 0) {
                return false;
            }
            break;
        }
    }
    unsigned char digest[Sha256Util::DIGEST_LENGTH];
    context.final(digest);
    const unsigned digestLength = Sha256Util::DIGEST_LENGTH;
    const std::string digestPath = GetSha256FilePath(path);
    const std::string partial = PrivateName(digestPath);
    FilePtr out(Platform::OpenFile(partial.c_str(), "wb"));
    if (!out) {
        return false;
    }
    const bool written = std::fwrite(digest, 1, digestLength, out.get()) == digestLength;
    if (std::fclose(out.release()) != 0 || !written) {
        Platform::RemoveFile(partial);
        return false;
    }
    return RenameInto(partial, digestPath);
}

std::string GetParentDir(const std::string& path)
{
    size_t separator = LastSeparator(path);
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

std::string GetBaseNameWithoutExt(const std::string& path)
{
    size_t separator = LastSeparator(path);
    std::string name = separator == std::string::npos ? path : path.substr(separator + 1);
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string GetExtractDir(const std::string& package)
{
    return GetParentDir(package) + GetBaseNameWithoutExt(package) + EXTRACT_SUFFIX;
}

void CreateExtractDir(const std::string& dir)
{
    // An existing directory is fine; a failure shows when the first image is written.
    std::error_code error;
    std::filesystem::create_directory(std::filesystem::u8path(dir), error);
}

Common::Outcome UnpackFwpkgImages(const std::string& package, const std::vector<BurnInfo::FwpkgBinInfo>& list,
                                  const std::string& extractDir)
{
    for (const BurnInfo::FwpkgBinInfo& info : list) {
        const char* name = info.imageName.c_str();
        Common::Outcome failure;
        if (!Common::IsSafeFwpkgImageName(info.imageName)) {
            failure = Failure(REFUSED, "error: Image name \"%s\" in fwpkg file %s is not a plain file name\n", name,
                              package.c_str());
        } else {
            const std::string output = extractDir + info.imageName;
            failure = ExtractBinFromFwpkg(package, output, info.offset, info.length);
            if (!failure.Ok()) {
                failure.message += Failure(REFUSED, "error: Failed to extract %s from fwpkg\n", name).message;
            } else if (!CreateSha256File(output)) {
                failure = Failure(FILE_FAILED, "error: Failed to create SHA256 file for %s\n", name);
            }
        }
        if (!failure.Ok()) {
            failure.image = info.imageName;
            return failure;
        }
    }
    return Common::Outcome();
}

}  // namespace FwpkgSp
