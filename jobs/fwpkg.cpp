#include "jobs/fwpkg.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <system_error>

#include "common/chip_family.h"
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

// Refuses what the job must not list, each with its own message.
bool CheckTable(Common::FwpkgCheck check, const Common::FwpkgTable& table, uint64_t fileLength,
                const std::string& path)
{
    switch (check) {
        case Common::FwpkgCheck::OK:
            return true;
        case Common::FwpkgCheck::CRC_MISMATCH:
            std::printf("error: fwpkg header CRC mismatch (calculated 0x%04x, stored 0x%04x): %s\n",
                        table.computedCrc, table.head.crc, path.c_str());
            return false;
        case Common::FwpkgCheck::ENTRY_PAST_END: {
            const Common::FileHead& entry = table.entries[table.badEntry];
            std::printf("error: Image %s (offset %u, length %u) reaches past the end of fwpkg file %s (%llu bytes)\n",
                        entry.name.c_str(), entry.offset, entry.length, path.c_str(),
                        static_cast<unsigned long long>(fileLength));
            return false;
        }
        case Common::FwpkgCheck::TABLE_PAST_END:
            std::printf("error: fwpkg entry table of %u entries reaches past the end of the file: %s\n",
                        static_cast<unsigned>(table.head.count), path.c_str());
            return false;
        default:
            std::printf("error: Unknown fwpkg format, flag: 0x%x\n", table.head.flag);
            return false;
    }
}

}  // namespace

bool ParseFwpkgFile(const std::string& path, std::vector<BurnInfo::FwpkgBinInfo>& out)
{
    FilePtr file(Platform::OpenFile(path.c_str(), "rb"));
    if (!file) {
        std::printf("error: Failed to open fwpkg file: %s\n", path.c_str());
        return false;
    }
    uint8_t header[Common::FWPKG_NORMAL_LAYOUT.headerLength];
    uint64_t fileLength = 0;
    if (std::fread(header, 1, sizeof(header), file.get()) != sizeof(header) || !FileLength(path, fileLength)) {
        std::printf("error: Failed to read fwpkg header\n");
        return false;
    }
    Common::FwpkgHead head;
    Common::FwpkgLayoutInfo layout = Common::FWPKG_NORMAL_LAYOUT;
    Common::ReadFwpkgHead(header, sizeof(header), head);
    if (!Common::GetFwpkgLayout(head.flag, layout) || head.count == Common::FWPKG_COUNT_INVALID) {
        std::printf("error: Unknown fwpkg format, flag: 0x%x\n", head.flag);
        return false;
    }

    // Read no more than the file holds: a table cut short is refused below,
    // never padded with zeros.
    const uint64_t tableLength = Common::GetFwpkgTableLength(layout, head.count);
    std::vector<uint8_t> table(static_cast<size_t>(tableLength < fileLength ? tableLength : fileLength));
    if (std::fseek(file.get(), 0, SEEK_SET) != 0 ||
        std::fread(table.data(), 1, table.size(), file.get()) != table.size()) {
        std::printf("error: Failed to read fwpkg header\n");
        return false;
    }
    Common::FwpkgTable parsed;
    Common::FwpkgCheck check = Common::CheckFwpkgTable(table.data(), table.size(), fileLength, 0, parsed);
    if (!CheckTable(check, parsed, fileLength, path)) {
        return false;
    }
    // Names become file names in the extract directory.
    for (const Common::FileHead& entry : parsed.entries) {
        if (!Common::IsSafeFwpkgImageName(entry.name)) {
            std::printf("error: Image name \"%s\" in fwpkg file %s is not a plain file name\n", entry.name.c_str(),
                        path.c_str());
            return false;
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
    return true;
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

bool ExtractBinFromFwpkg(const std::string& package, const std::string& output, unsigned int offset,
                         unsigned int length)
{
    FilePtr in(Platform::OpenFile(package.c_str(), "rb"));
    if (!in) {
        std::printf("error: Failed to open fwpkg file: %s\n", package.c_str());
        return false;
    }
    if (std::fseek(in.get(), static_cast<long>(offset), SEEK_SET) != 0) {
        std::printf("error: Failed to seek to position %u in fwpkg file\n", offset);
        return false;
    }
    const std::string partial = PrivateName(output);
    FilePtr out(Platform::OpenFile(partial.c_str(), "wb"));
    if (!out) {
        std::printf("error: Failed to create output file: %s\n", output.c_str());
        return false;
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
            std::printf("error: Failed to write output file: %s\n", output.c_str());
            out.reset();
            Platform::RemoveFile(partial);
            return false;
        }
        left -= got;
    }
    // A short image must not be left behind to be burned as if it were whole.
    if (left > 0) {
        std::printf("error: Image at offset %u with length %u reaches past the end of fwpkg file: %s\n", offset,
                    length, package.c_str());
        out.reset();
        Platform::RemoveFile(partial);
        return false;
    }
    if (std::fclose(out.release()) != 0) {
        std::printf("error: Failed to write output file: %s\n", output.c_str());
        Platform::RemoveFile(partial);
        return false;
    }
    if (!RenameInto(partial, output)) {
        std::printf("error: Failed to write output file: %s\n", output.c_str());
        return false;
    }
    return true;
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

bool UnpackFwpkgImages(const std::string& package, const std::vector<BurnInfo::FwpkgBinInfo>& list,
                       const std::string& extractDir)
{
    for (const BurnInfo::FwpkgBinInfo& info : list) {
        const char* name = info.imageName.c_str();
        if (!Common::IsSafeFwpkgImageName(info.imageName)) {
            std::printf("error: Image name \"%s\" in fwpkg file %s is not a plain file name\n", name,
                        package.c_str());
            return false;
        }
        const std::string output = extractDir + info.imageName;
        if (!ExtractBinFromFwpkg(package, output, info.offset, info.length)) {
            std::printf("error: Failed to extract %s from fwpkg\n", name);
            return false;
        }
        if (!CreateSha256File(output)) {
            std::printf("error: Failed to create SHA256 file for %s\n", name);
            return false;
        }
    }
    return true;
}

}  // namespace FwpkgSp
