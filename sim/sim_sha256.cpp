#include "sim/sim_sha256.h"

namespace Sim {

Sha256::Digest Sha256::Final() const
{
    Sha256Util::Context copy = m_context;
    Digest digest{};
    copy.final(digest.data());
    return digest;
}

Sha256::Digest Sha256::Of(const uint8_t* data, size_t length)
{
    Sha256 sha;
    sha.Update(data, length);
    return sha.Final();
}

std::string Sha256::Hex(const Digest& digest)
{
    static const char HEX[] = "0123456789abcdef";
    std::string text;
    text.reserve(digest.size() * 2);
    for (uint8_t byte : digest) {
        text.push_back(HEX[byte >> 4]);
        text.push_back(HEX[byte & 0x0F]);
    }
    return text;
}

}  // namespace Sim
