#include "common/file_helpers.h"

#include "common/checksum.h"
#include "common/console.h"
#include "common/secure_functions.h"
#include "platform/monotonic_clock.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <new>
#include <thread>

namespace Common {

namespace {

constexpr uint64_t MAX_FILE_SIZE = UINT32_MAX; // sizes travel as 32-bit values
constexpr uint32_t COPY_BLOCK_SIZE = 1024;
constexpr size_t FORMAT_BUFFER_SIZE = 4096;

// fopen in byte mode; a directory counts as "cannot be opened" (it would
// open for reading here and report a meaningless size).
FILE* OpenForRead(const std::string& path)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return nullptr;
    }
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode)) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

// Position of the end of the file, or -1 when seeking fails.
int64_t SeekEnd(FILE* file)
{
    if (fseeko(file, 0, SEEK_END) != 0) {
        return -1;
    }
    return static_cast<int64_t>(ftello(file));
}

void ReportTooLarge(const std::string& path, long long handle)
{
    PrintInfo(handle, NORMAL_INFO, "file %s is 4 GiB or larger, not supported\n", path.c_str());
}

std::unique_ptr<uint8_t[]> Allocate(uint32_t size, bool zeroed)
{
    size_t total = static_cast<size_t>(size) + FILE_DATA_SLACK;
    return std::unique_ptr<uint8_t[]>(zeroed ? new (std::nothrow) uint8_t[total]()
                                             : new (std::nothrow) uint8_t[total]);
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
std::unique_ptr<uint8_t[]> ReadAndClose(FILE* file, uint32_t length, bool zeroed, long long handle)
{
    std::unique_ptr<uint8_t[]> data = Allocate(length, zeroed);
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

char LowerAscii(char c)
{
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
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

uint32_t GetFileLen(const std::string& path)
{
    FILE* file = OpenForRead(path);
    if (file == nullptr) {
        return 0;
    }
    int64_t end = SeekEnd(file);
    std::rewind(file);
    if (std::fclose(file) != 0 || end < 0) {
        return 0;
    }
    if (static_cast<uint64_t>(end) > MAX_FILE_SIZE) {
        ReportTooLarge(path, 0);
        return 0;
    }
    return static_cast<uint32_t>(end);
}

uint32_t GetBigFileLen(const std::string& path)
{
    FILE* file = OpenForRead(path);
    if (file == nullptr) {
        return 0;
    }
    int64_t end = SeekEnd(file);
    std::fclose(file);
    if (end < 0) {
        return 0;
    }
    if (static_cast<uint64_t>(end) > MAX_FILE_SIZE) {
        ReportTooLarge(path, 0);
        return 0;
    }
    return static_cast<uint32_t>(end);
}

std::unique_ptr<uint8_t[]> GetFileData(const std::string& path, uint32_t& size, long long handle)
{
    FILE* file = OpenForReadOrSay(path, handle);
    if (file == nullptr) {
        return nullptr;
    }
    if (fseeko(file, 0, SEEK_END) != 0) {
        std::fclose(file);
        Print("fseek failed\n", "", handle);
        return nullptr;
    }
    int64_t end = static_cast<int64_t>(ftello(file));
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
    std::unique_ptr<uint8_t[]> data = ReadAndClose(file, length, false, handle);
    if (data != nullptr) {
        size = length;
    }
    return data;
}

std::unique_ptr<uint8_t[]> GetPartFileData(const std::string& path, long long handle, uint32_t offset,
                                           uint32_t size)
{
    FILE* file = OpenForReadOrSay(path, handle);
    if (file == nullptr) {
        return nullptr;
    }
    if (fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0) {
        std::fclose(file);
        Print("fseek failed\n", "", handle);
        return nullptr;
    }
    return ReadAndClose(file, size, true, handle);
}

bool GetFileContent(const std::string& path, std::unique_ptr<uint8_t[]>& buffer, uint32_t& size,
                    long long handle)
{
    buffer.reset();
    FILE* file = OpenForReadOrSay(path, handle);
    if (file == nullptr) {
        return false;
    }
    int64_t end = SeekEnd(file);
    if (end < 0) {
        std::fclose(file);
        Print("fseek failed\n", "", handle);
        return false;
    }
    // Beyond MAX_MALLOC_SIZE only the head of the file is wanted.
    uint32_t length = static_cast<uint64_t>(end) > MAX_MALLOC_SIZE ? FILE_DATA_SLACK : static_cast<uint32_t>(end);
    std::rewind(file);
    std::unique_ptr<uint8_t[]> data = ReadAndClose(file, length, true, handle);
    if (data == nullptr) {
        return false;
    }
    buffer = std::move(data);
    size = length;
    return true;
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
    file = std::fopen(NormalisePath(path).c_str(), mode);
}

bool CopyFileBuffer(const std::string& path, FILE* stream, uint32_t size)
{
    if (stream == nullptr) {
        Print("read failed.\n");
        return false;
    }
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        PrintInfo(0, NORMAL_INFO, "open file %s failed.\n", path.c_str());
        return false;
    }
    uint8_t block[COPY_BLOCK_SIZE];
    uint32_t remaining = size;
    while (remaining > 0) {
        size_t want = std::min<uint32_t>(remaining, COPY_BLOCK_SIZE);
        // A short read would leave the copy shorter than asked: a failure.
        if (std::fread(block, 1, want, stream) != want) {
            std::fclose(out);
            Print("read failed.\n");
            return false;
        }
        if (std::fwrite(block, 1, want, out) != want) {
            std::fclose(out);
            Print("write failed.\n");
            return false;
        }
        remaining -= static_cast<uint32_t>(want);
    }
    if (std::fclose(out) != 0) {
        Print("write failed.\n");
        return false;
    }
    return true;
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

bool IgnoreCaseCompare(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

std::string Back2ForwardSlash(const std::string& path)
{
    std::string result = path;
    std::replace(result.begin(), result.end(), '\\', '/');
    return result;
}

bool CheckPathisNetworkPath(const char* path)
{
    return path != nullptr && std::strstr(path, "://") != nullptr;
}

bool CheckPathIsChinese(const char* path)
{
    if (path == nullptr) {
        return false;
    }
    for (const char* p = path; *p != '\0'; ++p) {
        if ((static_cast<unsigned char>(*p) & 0x80u) != 0) {
            return true;
        }
    }
    return false;
}

bool CheckPathisInValid(const char* path)
{
    if (CheckPathisNetworkPath(path)) {
        Print("error: the path of ToolSuite is a network path.\n");
        return true;
    }
    return false;
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> pieces;
    if (text.find(separator) == std::string::npos) {
        return pieces;
    }
    const std::string joined = text + separator;
    size_t begin = 0;
    for (size_t end = joined.find(separator); end != std::string::npos; end = joined.find(separator, begin)) {
        pieces.push_back(joined.substr(begin, end - begin));
        begin = end + 1;
    }
    return pieces;
}

FLASH_TYPE_E StringToFlashTypeEnum(const std::string& text)
{
    static const struct {
        const char* name;
        FLASH_TYPE_E code;
    } NAMES[] = {{"nand", FLASH_TYPE_NAND}, {"spi", FLASH_TYPE_SPI}, {"emmc", FLASH_TYPE_EMMC}, {"ufs", FLASH_TYPE_UFS}};
    for (const auto& entry : NAMES) {
        if (IgnoreCaseCompare(text, entry.name)) {
            return entry.code;
        }
    }
    return FLASH_TYPE_UNKNOWN;
}

FILE_SYSTEM_E StringToFileSystemEnum(const std::string& text)
{
    static const struct {
        const char* name;
        FILE_SYSTEM_E code;
    } NAMES[] = {{"none", FILE_SYSTEM_NONE},         {"yaffs", FILE_SYSTEM_YAFFS}, {"ext3", FILE_SYSTEM_EXT},
                 {"ext4", FILE_SYSTEM_EXT},          {"ext3/4", FILE_SYSTEM_EXT},  {"TAT32", FILE_SYSTEM_TAT32},
                 {"squashFs", FILE_SYSTEM_SQUASHFS}, {"ubiFs", FILE_SYSTEM_UBIFS}, {"f2fs", FILE_SYSTEM_F2FS},
                 {"erofs", FILE_SYSTEM_EROFS}};
    for (const auto& entry : NAMES) {
        if (IgnoreCaseCompare(text, entry.name)) {
            return entry.code;
        }
    }
    return FILE_SYSTEM_UNKNOWN;
}

std::string FlashTypeEnumToString(int flashType)
{
    switch (flashType) {
        case FLASH_TYPE_SPI:
            return "spi";
        case FLASH_TYPE_EMMC:
            return "emmc";
        case FLASH_TYPE_UFS:
            return "ufs";
        default:
            return "nand";
    }
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

// --- frames ----------------------------------------------------------------

std::vector<uint8_t> GetDouble5CFrameData(const uint8_t* data, uint32_t length)
{
    std::vector<uint8_t> frame;
    frame.reserve(sizeof(HEAD_FLAG) + 2u * static_cast<size_t>(length) + sizeof(TAIL_FLAG));
    frame.insert(frame.end(), std::begin(HEAD_FLAG), std::end(HEAD_FLAG));
    for (uint32_t i = 0; data != nullptr && i < length; ++i) {
        frame.push_back(data[i]);
        if (data[i] == ESCAPE_BYTE) {
            frame.push_back(ESCAPE_BYTE);
        }
    }
    frame.insert(frame.end(), std::begin(TAIL_FLAG), std::end(TAIL_FLAG));
    return frame;
}

void ConvertingUintToArrays(uint8_t* array, uint32_t arraySize, uint32_t value, uint32_t& position)
{
    // A position past the end must fail too, not wrap into a huge free count.
    if (array == nullptr || position > arraySize || arraySize - position <= 3) {
        Print("Converting uint to arrays failed.\n");
        return;
    }
    array[position] = static_cast<uint8_t>(value & 0xFFu);
    array[position + 1] = static_cast<uint8_t>((value >> 8) & 0xFFu);
    array[position + 2] = static_cast<uint8_t>((value >> 16) & 0xFFu);
    array[position + 3] = static_cast<uint8_t>((value >> 24) & 0xFFu);
    position += 4;
}

void InvertUintU32(uint32_t* words, uint32_t byteLength)
{
    if (words == nullptr) {
        return;
    }
    for (uint32_t i = 0; i < byteLength / 4; ++i) {
        uint32_t w = words[i];
        words[i] = (w >> 24) | ((w >> 8) & 0x0000FF00u) | ((w << 8) & 0x00FF0000u) | (w << 24);
    }
}

bool InitShakeHandCmd(uint8_t* buffer, uint32_t length, uint32_t baudRate)
{
    if (buffer == nullptr || length != SHAKE_HAND_FRAME_LENGTH) {
        return false;
    }
    buffer[0] = XHDSHK;
    buffer[1] = 0x00;
    buffer[2] = 0xFF;
    buffer[3] = static_cast<uint8_t>((baudRate >> 24) & 0xFFu);
    buffer[4] = static_cast<uint8_t>((baudRate >> 16) & 0xFFu);
    buffer[5] = static_cast<uint8_t>((baudRate >> 8) & 0xFFu);
    buffer[6] = static_cast<uint8_t>(baudRate & 0xFFu);
    uint16_t crc = SopCrc16(buffer, 7);
    buffer[7] = static_cast<uint8_t>(crc >> 8);
    buffer[8] = static_cast<uint8_t>(crc & 0xFFu);
    return true;
}

// --- time ------------------------------------------------------------------

void DelayUs(double us)
{
    // Long waits sleep most of the way and spin only the tail, so the frame
    // loops keep their precision without burning a core.
    constexpr double SPIN_TAIL_US = 1000.0;
    const int64_t start = Platform::MonotonicUs();
    if (us > 2 * SPIN_TAIL_US && us < 1e12) {
        std::this_thread::sleep_for(std::chrono::microseconds(static_cast<int64_t>(us - SPIN_TAIL_US)));
    }
    while (static_cast<double>(Platform::MonotonicUs() - start) <= us) {
    }
}

uint32_t GetTime()
{
    return static_cast<uint32_t>(static_cast<uint64_t>(Platform::MonotonicMs()) & 0xFFFFFFFFu);
}

} // namespace Common
