#include "common/file_helpers.h"

#include "common/console.h"
#include "common/secure_functions.h"
#include "platform/file_access.h"

#include <cstdarg>
#include <cstring>
#include <vector>

namespace Common {

namespace {

constexpr uint64_t MAX_FILE_SIZE = UINT32_MAX; // sizes travel as 32-bit values
constexpr size_t FORMAT_BUFFER_SIZE = 4096;

// fopen in byte mode; a directory counts as "cannot be opened" (it would
// open for reading here and report a meaningless size).
FILE* OpenForRead(const std::string& path)
{
    FILE* file = Platform::OpenFile(path.c_str(), "rb");
    if (file == nullptr) {
        return nullptr;
    }
    if (Platform::IsDirectoryStream(file)) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

void ReportTooLarge(const std::string& path, long long handle)
{
    PrintInfo(handle, NORMAL_INFO, "file %s is 4 GiB or larger, not supported\n", path.c_str());
}

FileBytes Allocate(uint32_t size, bool zeroed)
{
    const size_t total = static_cast<size_t>(size) + FILE_DATA_SLACK;
    FileBytes bytes = Platform::AllocateLargeBuffer(total);
    if (bytes != nullptr && zeroed) {
        std::memset(bytes.get(), 0, total);
    }
    return bytes;
}

// OpenForRead that tells the user when the file cannot be opened.
FILE* OpenForReadOrSay(const std::string& path, long long handle)
{
    FILE* file = OpenForRead(path);
    if (file == nullptr) {
        PrintInfo(handle, NORMAL_INFO, "fopen_s %s failed\n", path.c_str());
    }
    return file;
}

// length bytes from the current position into a new buffer with slack; the
// file is closed on every path. Null (with a message) on failure.
FileBytes ReadAndClose(FILE* file, uint32_t length, bool zeroed, long long handle)
{
    FileBytes data = Allocate(length, zeroed);
    if (data == nullptr) {
        std::fclose(file);
        Print("malloc failed\n", "", handle);
        return nullptr;
    }
    if (std::fread(data.get(), 1, length, file) != length) {
        std::fclose(file);
        Print("fread failed\n", "", handle);
        return nullptr;
    }
    if (std::fclose(file) != 0) {
        Print("fclose failed.\n", "", handle);
        return nullptr;
    }
    return data;
}

// "." and ".." steps removed; ".." above the root of an absolute path is dropped.
std::string NormalisePath(const std::string& path)
{
    const bool absolute = !path.empty() && path[0] == '/';
    std::vector<std::string> parts;
    size_t begin = 0;
    while (begin <= path.size()) {
        size_t end = path.find('/', begin);
        if (end == std::string::npos) {
            end = path.size();
        }
        std::string part = path.substr(begin, end - begin);
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..") {
                parts.pop_back();
            } else if (!absolute) {
                parts.push_back(part);
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        begin = end + 1;
    }
    std::string result = absolute ? "/" : "";
    for (size_t i = 0; i < parts.size(); ++i) {
        result += (i == 0 ? "" : "/") + parts[i];
    }
    return result.empty() ? std::string(".") : result;
}

} // namespace

// --- files -----------------------------------------------------------------

FileBytes GetFileData(const std::string& path, uint32_t& size, long long handle)
{
    FILE* file = OpenForReadOrSay(path, handle);
    if (file == nullptr) {
        return nullptr;
    }
    if (Platform::SeekFile(file, 0, SEEK_END) != 0) {
        std::fclose(file);
        Print("fseek failed\n", "", handle);
        return nullptr;
    }
    int64_t end = Platform::TellFile(file);
    if (end <= 0) {
        std::fclose(file);
        Print("ftell failed\n", "", handle);
        return nullptr;
    }
    if (static_cast<uint64_t>(end) > MAX_FILE_SIZE) {
        std::fclose(file);
        ReportTooLarge(path, handle);
        return nullptr;
    }
    uint32_t length = static_cast<uint32_t>(end);
    std::rewind(file);
    FileBytes data = ReadAndClose(file, length, false, handle);
    if (data != nullptr) {
        size = length;
    }
    return data;
}

FileBytes GetPartFileData(const std::string& path, long long handle, uint32_t offset, uint32_t size)
{
    FILE* file = OpenForReadOrSay(path, handle);
    if (file == nullptr) {
        return nullptr;
    }
    if (Platform::SeekFile(file, offset, SEEK_SET) != 0) {
        std::fclose(file);
        Print("fseek failed\n", "", handle);
        return nullptr;
    }
    return ReadAndClose(file, size, true, handle);
}

void CloseFile(FILE*& file)
{
    if (file != nullptr) {
        std::fclose(file);
        file = nullptr;
    }
}

void OpenFile(FILE*& file, const std::string& path, const char* mode)
{
    file = nullptr;
    if (mode == nullptr || path.empty()) {
        return;
    }
    file = Platform::OpenFile(NormalisePath(path).c_str(), mode);
}

// --- paths and texts -------------------------------------------------------

std::string GetFileName(const std::string& path)
{
    size_t cut = path.find_last_of('\\');
    if (cut == std::string::npos) {
        cut = path.find_last_of('/');
    }
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string FormatInfo(const char* format, ...)
{
    char text[FORMAT_BUFFER_SIZE] = {};
    va_list args;
    va_start(args, format);
    int result = vsprintf_s(text, sizeof(text), format, args);
    va_end(args);
    return result < 0 ? std::string() : std::string(text, static_cast<size_t>(result));
}

} // namespace Common
