// Writes the fwpkg packages of the TypeSix benchmark:
//   typesix_package burn   OUT  a 4 MiB flash image (type 100) and a 4 MiB
//                               application image (type 20)
//   typesix_package unpack OUT  64 MiB in four images that are only unpacked
//                               (type 16), so the run measures unpacking
// Image bytes are pseudo-random, so about one in 256 needs escaping on the line.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/checksum.h"

namespace {

constexpr uint32_t FLAG_NORMAL = 0xEFBEADDF;
constexpr size_t HEADER_LENGTH = 12;
constexpr size_t ENTRY_LENGTH = 52;
constexpr size_t NAME_LENGTH = 32;
constexpr size_t CRC_START = 6;
constexpr uint32_t MIB = 1024 * 1024;

struct Entry {
    std::string name;
    uint32_t type;
    uint32_t burnAddress;
    uint32_t burnSize;
    uint32_t length;
};

void PutLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t value)
{
    for (size_t i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

std::vector<uint8_t> Table(const std::vector<Entry>& entries)
{
    std::vector<uint8_t> table(HEADER_LENGTH + ENTRY_LENGTH * entries.size(), 0);
    PutLe32(table, 0, FLAG_NORMAL);
    table[6] = static_cast<uint8_t>(entries.size());
    table[7] = static_cast<uint8_t>(entries.size() >> 8);
    uint32_t offset = static_cast<uint32_t>(table.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const size_t at = HEADER_LENGTH + ENTRY_LENGTH * i;
        std::memcpy(table.data() + at, entries[i].name.data(), std::min(entries[i].name.size(), NAME_LENGTH));
        PutLe32(table, at + 32, offset);
        PutLe32(table, at + 36, entries[i].length);
        PutLe32(table, at + 40, entries[i].burnAddress);
        PutLe32(table, at + 44, entries[i].burnSize);
        PutLe32(table, at + 48, entries[i].type);
        offset += entries[i].length;
    }
    const uint16_t crc = Common::SopCrc16(table.data() + CRC_START, static_cast<uint32_t>(table.size() - CRC_START));
    table[4] = static_cast<uint8_t>(crc);
    table[5] = static_cast<uint8_t>(crc >> 8);
    return table;
}

bool Write(const std::string& path, const std::vector<Entry>& entries)
{
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    const std::vector<uint8_t> table = Table(entries);
    bool ok = std::fwrite(table.data(), 1, table.size(), out) == table.size();
    uint32_t x = 0x9E3779B9u;
    std::vector<uint8_t> chunk(MIB);
    for (const Entry& entry : entries) {
        for (uint32_t left = entry.length; ok && left > 0;) {
            const uint32_t n = std::min<uint32_t>(left, MIB);
            for (uint32_t i = 0; i < n; ++i) {
                x ^= x << 13;
                x ^= x >> 17;
                x ^= x << 5;
                chunk[i] = static_cast<uint8_t>(x);
            }
            ok = std::fwrite(chunk.data(), 1, n, out) == n;
            left -= n;
        }
    }
    return std::fclose(out) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string kind = argc == 3 ? argv[1] : "";
    std::vector<Entry> entries;
    if (kind == "burn") {
        entries = {{"flash.bin", 100, 0, 4 * MIB, 4 * MIB}, {"app.bin", 20, 0, 4 * MIB, 4 * MIB}};
    } else if (kind == "unpack") {
        for (int i = 0; i < 4; ++i) {
            entries.push_back({"part" + std::to_string(i) + ".bin", 16, 0, 0, 16 * MIB});
        }
    } else {
        std::fprintf(stderr, "usage: typesix_package burn|unpack OUT\n");
        return 2;
    }
    if (!Write(argv[2], entries)) {
        std::fprintf(stderr, "typesix_package: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
