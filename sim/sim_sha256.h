// SHA-256 for the simulated boards, so that they can check the digests the
// tool sends and name every image in the report without linking a crypto
// library.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace Sim {

class Sha256 {
public:
    using Digest = std::array<uint8_t, 32>;

    Sha256();
    void Update(const uint8_t* data, size_t length);
    // Finishes a copy, so the running state can go on taking bytes.
    Digest Final() const;

    static Digest Of(const uint8_t* data, size_t length);
    static std::string Hex(const Digest& digest);

private:
    void ProcessBlock(const uint8_t* block);

    std::array<uint32_t, 8> m_state;
    std::array<uint8_t, 64> m_buffer{};
    uint64_t m_count = 0;  // message bytes taken in
};

}  // namespace Sim
