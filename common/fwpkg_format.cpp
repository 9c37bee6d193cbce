#include "common/fwpkg_format.h"

#include <cstring>
#include <utility>

#include "common/checksum.h"

namespace Common {

namespace {

// Offsets of the numbers behind the name field of an entry.
constexpr uint32_t ENTRY_OFFSET_FIELD = 0;
constexpr uint32_t ENTRY_LENGTH_FIELD = 4;
constexpr uint32_t ENTRY_BURN_ADDRESS_FIELD = 8;
constexpr uint32_t ENTRY_BURN_SIZE_FIELD = 12;
constexpr uint32_t ENTRY_TYPE_FIELD = 16;

uint32_t ReadU32Le(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t ReadU16Le(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace

bool GetFwpkgLayout(uint32_t flag, FwpkgLayoutInfo& layout)
{
    if (flag == FWPKG_FLAG_NORMAL) {
        layout = FWPKG_NORMAL_LAYOUT;
        return true;
    }
    if (flag >= FWPKG_FLAG_NEW_START && flag <= FWPKG_FLAG_NEW_END) {
        layout = FWPKG_NEW_LAYOUT;
        return true;
    }
    return false;
}

bool ReadFwpkgHead(const uint8_t* data, uint64_t length, FwpkgHead& head)
{
    if (data == nullptr || length < FWPKG_HEAD_PREFIX_LENGTH) {
        return false;
    }
    head.flag = ReadU32Le(data + FWPKG_FLAG_OFFSET);
    head.crc = ReadU16Le(data + FWPKG_CRC_OFFSET);
    head.count = ReadU16Le(data + FWPKG_COUNT_OFFSET);
    return true;
}

uint64_t GetFwpkgTableLength(const FwpkgLayoutInfo& layout, uint32_t count)
{
    return uint64_t{layout.headerLength} + uint64_t{layout.entryLength} * count;
}

uint16_t CalcFwpkgCrc(const uint8_t* table, uint64_t tableLength)
{
    if (table == nullptr || tableLength <= FWPKG_CRC_START || tableLength - FWPKG_CRC_START > UINT32_MAX) {
        return 0;
    }
    return SopCrc16(table + FWPKG_CRC_START, static_cast<uint32_t>(tableLength - FWPKG_CRC_START));
}

bool ReadFwpkgEntry(const uint8_t* table, uint64_t tableLength, const FwpkgLayoutInfo& layout, uint32_t index,
                    FileHead& entry)
{
    const uint64_t start = uint64_t{layout.headerLength} + uint64_t{layout.entryLength} * index;
    if (table == nullptr || start + layout.entryLength > tableLength) {
        return false;
    }
    const uint8_t* p = table + start;
    const void* nul = std::memchr(p, 0, layout.nameLength);
    size_t nameLength = nul != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - p) : layout.nameLength;
    entry.name.assign(reinterpret_cast<const char*>(p), nameLength);
    const uint8_t* numbers = p + layout.nameLength;
    entry.offset = ReadU32Le(numbers + ENTRY_OFFSET_FIELD);
    entry.length = ReadU32Le(numbers + ENTRY_LENGTH_FIELD);
    entry.burnAddress = ReadU32Le(numbers + ENTRY_BURN_ADDRESS_FIELD);
    entry.burnSize = ReadU32Le(numbers + ENTRY_BURN_SIZE_FIELD);
    entry.type = ReadU32Le(numbers + ENTRY_TYPE_FIELD);
    return true;
}

bool FwpkgEntryWithinFile(const FileHead& entry, uint64_t fileLength)
{
    return uint64_t{entry.offset} + entry.length <= fileLength;
}

bool IsSafeFwpkgImageName(const std::string& name)
{
    return !name.empty() && name.find('/') == std::string::npos && name.find('\\') == std::string::npos &&
           name.find("..") == std::string::npos;
}

FwpkgCheck CheckFwpkgTable(const uint8_t* data, uint64_t available, uint64_t fileLength, uint32_t maxCount,
                           FwpkgTable& table)
{
    table.entries.clear();
    table.badEntry = 0;
    table.computedCrc = 0;
    if (!ReadFwpkgHead(data, available < fileLength ? available : fileLength, table.head)) {
        return FwpkgCheck::SHORT_HEAD;
    }
    if (!GetFwpkgLayout(table.head.flag, table.layout)) {
        return FwpkgCheck::UNKNOWN_FLAG;
    }
    const uint32_t count = table.head.count;
    if (count == FWPKG_COUNT_INVALID) {
        return FwpkgCheck::COUNT_INVALID;
    }
    if (maxCount != 0 && count >= maxCount) {
        return FwpkgCheck::TOO_MANY_IMAGES;
    }
    const uint64_t tableLength = GetFwpkgTableLength(table.layout, count);
    if (tableLength > fileLength || tableLength > available) {
        return FwpkgCheck::TABLE_PAST_END;
    }
    table.entries.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        ReadFwpkgEntry(data, tableLength, table.layout, i, table.entries[i]);
    }
    table.computedCrc = CalcFwpkgCrc(data, tableLength);
    if (table.computedCrc != table.head.crc) {
        return FwpkgCheck::CRC_MISMATCH;
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (!FwpkgEntryWithinFile(table.entries[i], fileLength)) {
            table.badEntry = i;
            return FwpkgCheck::ENTRY_PAST_END;
        }
    }
    return FwpkgCheck::OK;
}

// --- writing -----------------------------------------------------------------

namespace {

void WriteU32Le(uint8_t* p, uint32_t value)
{
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

void WriteU16Le(uint8_t* p, uint16_t value)
{
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

}  // namespace

bool BuildFwpkgTable(uint32_t flag, const std::vector<FileHead>& entries, std::vector<uint8_t>& table)
{
    table.clear();
    FwpkgLayoutInfo layout = FWPKG_NORMAL_LAYOUT;
    if (!GetFwpkgLayout(flag, layout) || entries.size() >= FWPKG_COUNT_INVALID) {
        return false;
    }
    for (const FileHead& entry : entries) {
        if (entry.name.size() > layout.nameLength) {
            return false;
        }
    }
    const auto count = static_cast<uint32_t>(entries.size());
    std::vector<uint8_t> bytes(static_cast<size_t>(GetFwpkgTableLength(layout, count)), 0);
    WriteU32Le(bytes.data() + FWPKG_FLAG_OFFSET, flag);
    WriteU16Le(bytes.data() + FWPKG_COUNT_OFFSET, static_cast<uint16_t>(count));
    for (uint32_t i = 0; i < count; ++i) {
        const FileHead& entry = entries[i];
        uint8_t* p = bytes.data() + layout.headerLength + size_t{layout.entryLength} * i;
        std::memcpy(p, entry.name.data(), entry.name.size());
        uint8_t* numbers = p + layout.nameLength;
        WriteU32Le(numbers + ENTRY_OFFSET_FIELD, entry.offset);
        WriteU32Le(numbers + ENTRY_LENGTH_FIELD, entry.length);
        WriteU32Le(numbers + ENTRY_BURN_ADDRESS_FIELD, entry.burnAddress);
        WriteU32Le(numbers + ENTRY_BURN_SIZE_FIELD, entry.burnSize);
        WriteU32Le(numbers + ENTRY_TYPE_FIELD, entry.type);
    }
    // The CRC covers the count and the table, so it is stored last.
    WriteU16Le(bytes.data() + FWPKG_CRC_OFFSET, CalcFwpkgCrc(bytes.data(), bytes.size()));
    table = std::move(bytes);
    return true;
}

}  // namespace Common
