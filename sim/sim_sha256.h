// SHA-256 for the simulated boards, so that they can check the digests the
// tool sends and name every image in the report. The digest itself is the
// project's shared one: like the checksums, it is a function of the bytes
// and nothing of the tool's wire code.
#pragma once

#include "common/sha256_util.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace Sim {

class Sha256 {
public:
    using Digest = std::array<uint8_t, 32>;

    void Update(const uint8_t* data, size_t length) { m_context.update(data, length); }
    // Finishes a copy, so the running state can go on taking bytes.
    Digest Final() const;

    static Digest Of(const uint8_t* data, size_t length);
    static std::string Hex(const Digest& digest);

private:
    Sha256Util::Context m_context;
};

}  // namespace Sim
