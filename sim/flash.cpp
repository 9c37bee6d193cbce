#include "sim/board.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace Sim {

Flash::Flash(size_t size, uint8_t erased) : m_bytes(std::min<uint64_t>(size, MAX_SIZE), erased), m_erased(erased) {}

bool Flash::Load(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::vector<uint8_t> content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad() || content.size() > MAX_SIZE) {
        return false;
    }
    // A file shorter than the part leaves the rest erased; a longer one is a
    // larger part.
    if (content.size() > m_bytes.size()) {
        m_bytes.resize(content.size(), m_erased);
    }
    std::copy(content.begin(), content.end(), m_bytes.begin());
    return true;
}

bool Flash::Save(const std::string& path) const
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        return false;
    }
    out.write(reinterpret_cast<const char*>(m_bytes.data()), static_cast<std::streamsize>(m_bytes.size()));
    out.close();
    return !out.fail();
}

std::vector<BadCell> Flash::Write(uint64_t address, const uint8_t* data, size_t length)
{
    std::vector<BadCell> hit;
    if (length == 0 || !Fits(address, length)) {
        return hit;
    }
    const uint64_t end = address + length;
    if (end > m_bytes.size()) {
        m_bytes.resize(static_cast<size_t>(end), m_erased);
    }
    std::copy(data, data + length, m_bytes.begin() + static_cast<std::ptrdiff_t>(address));
    for (const BadCell& cell : m_badCells) {
        if (cell.address >= address && cell.address < end) {
            m_bytes[static_cast<size_t>(cell.address)] ^= static_cast<uint8_t>(1u << cell.bit);
            hit.push_back(cell);
        }
    }
    return hit;
}

std::vector<uint8_t> Flash::Read(uint64_t address, size_t length) const
{
    std::vector<uint8_t> out(length, m_erased);
    if (address >= m_bytes.size()) {
        return out;
    }
    const size_t available = std::min<uint64_t>(length, m_bytes.size() - address);
    const auto first = m_bytes.begin() + static_cast<std::ptrdiff_t>(address);
    std::copy(first, first + static_cast<std::ptrdiff_t>(available), out.begin());
    return out;
}

void Flash::EraseAll()
{
    std::fill(m_bytes.begin(), m_bytes.end(), m_erased);
}

void Flash::Erase(uint64_t address, uint64_t length)
{
    if (address >= m_bytes.size()) {
        return;
    }
    const uint64_t end = std::min<uint64_t>(m_bytes.size(), length > m_bytes.size() - address ? m_bytes.size() : address + length);
    std::fill(m_bytes.begin() + static_cast<std::ptrdiff_t>(address), m_bytes.begin() + static_cast<std::ptrdiff_t>(end), m_erased);
}

}  // namespace Sim
