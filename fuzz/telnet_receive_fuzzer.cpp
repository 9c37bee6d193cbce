// The telnet decoder under an RFC 2217 line, fed what a server might send,
// cut into uneven pieces. Data bytes never outnumber the input, a
// subnegotiation never outgrows its bound, and the data is the same however
// the input was cut.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "transport/telnet_codec.h"

namespace {

std::vector<uint8_t> Decode(const uint8_t* data, size_t size, size_t piece, std::vector<Telnet::Command>& commands)
{
    Telnet::Decoder decoder;
    std::vector<uint8_t> out;
    for (size_t at = 0; at < size;) {
        const size_t n = std::min(size - at, 1 + (at * 7 + piece) % 97);
        std::vector<uint8_t> chunk(data + at, data + at + n);
        const size_t count = decoder.Feed(chunk.data(), n, chunk.data(), commands);
        if (count > n) {
            __builtin_trap();
        }
        out.insert(out.end(), chunk.begin(), chunk.begin() + static_cast<long>(count));
        at += n;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<Telnet::Command> whole;
    std::vector<Telnet::Command> pieces;
    const std::vector<uint8_t> once = Decode(data, size, size, whole);
    const std::vector<uint8_t> cut = Decode(data, size, 3, pieces);
    if (once != cut || whole.size() != pieces.size()) {
        __builtin_trap();
    }
    for (const Telnet::Command& c : pieces) {
        if (c.payload.size() > Telnet::Decoder::MAX_PAYLOAD) {
            __builtin_trap();
        }
    }
    // What the encoder doubles, the decoder gives back unchanged.
    std::vector<uint8_t> encoded;
    Telnet::AppendData(encoded, data, size);
    std::vector<Telnet::Command> none;
    if (Decode(encoded.data(), encoded.size(), 5, none) != std::vector<uint8_t>(data, data + size) || !none.empty()) {
        __builtin_trap();
    }
    return 0;
}
