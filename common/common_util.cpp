#include "common/common_util.h"

#include "common/console.h"
#include "platform/file_access.h"

#include <cctype>
#include <limits>
#include <new>

namespace CommonUtil {

namespace {

constexpr size_t CONTENT_SLACK = 1024;

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// Reads like strtol: leading white space, an optional sign, then digits up to
// the first character that is not one. Fails on no digit or when the magnitude
// exceeds the limit of its sign.
bool ReadInteger(const std::string& text, int base, uint64_t positiveLimit, uint64_t negativeLimit,
                 int64_t& value)
{
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const uint64_t limit = negative ? negativeLimit : positiveLimit;
    uint64_t magnitude = 0;
    size_t digits = 0;
    for (; i < text.size(); ++i) {
        int digit = base == 16 ? HexDigitValue(text[i])
                               : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
        if (digit < 0) {
            break;
        }
        // Checked before multiplying, so the magnitude itself never wraps.
        if (magnitude > (limit - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base)) {
            return false;
        }
        magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        ++digits;
    }
    if (digits == 0) {
        return false;
    }
    // Two's complement of the magnitude, so that the most negative value works.
    value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

} // namespace

bool TryConvertToNumber(const std::string& text, int64_t& value)
{
    std::string lower = text;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }

    if (lower.find("0x") != std::string::npos) {
        // The hexadecimal digits are taken from the third character on, wherever
        // the "0x" was found; the value must fit a signed 32-bit integer.
        return ReadInteger(lower.substr(2), 16, 0x7FFFFFFFULL, 0x80000000ULL, value);
    }

    int64_t multiplier = 1;
    size_t letter = std::string::npos;
    if ((letter = lower.find('g')) != std::string::npos) {
        multiplier = 1LL << 30;
    } else if ((letter = lower.find('m')) != std::string::npos) {
        multiplier = 1LL << 20;
    } else if ((letter = lower.find('k')) != std::string::npos) {
        multiplier = 1LL << 10;
    }
    int64_t number = 0;
    const uint64_t maxMagnitude = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (!ReadInteger(lower.substr(0, letter), 10, maxMagnitude, maxMagnitude + 1, number)) {
        return false;
    }
    int64_t product = 0;
    if (__builtin_mul_overflow(number, multiplier, &product)) {
        return false;
    }
    value = product;
    return true;
}

int64_t ConvertToNumber(const std::string& text, bool* ok)
{
    int64_t value = 0;
    bool converted = TryConvertToNumber(text, value);
    if (ok != nullptr) {
        *ok = converted;
    }
    return converted ? value : 0;
}

bool TryConvertToInt32(const std::string& text, int& value)
{
    int64_t number = 0;
    if (!TryConvertToNumber(text, number)) {
        return false;
    }
    if (number < std::numeric_limits<int32_t>::min() || number > std::numeric_limits<uint32_t>::max()) {
        return false;
    }
    value = static_cast<int>(static_cast<uint32_t>(number));
    return true;
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        if (end == std::string::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

std::string Trim(const std::string& text)
{
    size_t end = text.find_last_not_of("\r\n \t");
    if (end == std::string::npos) {
        return std::string();
    }
    size_t start = text.find_first_not_of(" \t");
    return text.substr(start, end + 1 - start);
}

uint32_t GetFileLen(const std::string& path)
{
    FILE* file = Platform::OpenFile(path.c_str(), "rb");
    if (file == nullptr) {
        return 0;
    }
    long length = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        length = std::ftell(file);
        std::rewind(file);
    }
    if (std::fclose(file) != 0 || length < 0 ||
        static_cast<unsigned long>(length) > std::numeric_limits<uint32_t>::max()) {
        return 0;
    }
    return static_cast<uint32_t>(length);
}

bool FileIsExists(const std::string& path)
{
    return Platform::PathExists(path);
}

bool GetFileContent(const std::string& path, std::vector<uint8_t>& buffer, uint32_t& size)
{
    buffer.clear();
    FILE* file = Platform::OpenFile(path.c_str(), "rb");
    if (file == nullptr) {
        Common::PrintInfo(0, Common::NORMAL_INFO, "error: Open file failed: %s\n", path.c_str());
        return false;
    }
    long length = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        length = std::ftell(file);
    }
    if (length < 0 || static_cast<unsigned long>(length) > std::numeric_limits<uint32_t>::max()) {
        Common::PrintInfo(0, Common::NORMAL_INFO, "error: Open file failed: %s\n", path.c_str());
        SafeCloseFile(file);
        return false;
    }
    const size_t contentSize = static_cast<size_t>(length);
    try {
        buffer.assign(contentSize + CONTENT_SLACK, 0);
    } catch (const std::bad_alloc&) {
        Common::PrintInfo(0, Common::NORMAL_INFO, "error: malloc failed!\n");
        SafeCloseFile(file);
        return false;
    }
    std::rewind(file);
    if (std::fread(buffer.data(), 1, contentSize, file) != contentSize) {
        Common::PrintInfo(0, Common::NORMAL_INFO, "error: fread failed!\n");
        buffer.clear();
        SafeCloseFile(file);
        return false;
    }
    SafeCloseFile(file);
    size = static_cast<uint32_t>(contentSize);
    return true;
}

void SafeCloseFile(FILE* file)
{
    if (file != nullptr) {
        std::fclose(file);
    }
}

} // namespace CommonUtil
