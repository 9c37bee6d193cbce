// Wire framing of the TypeSix boards, both directions: 5C 73, the payload with
// every 5C doubled, 5C 65. The payload ends with an XOR check byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Sim {

constexpr uint8_t TYPESIX_ESCAPE = 0x5C;
constexpr uint8_t TYPESIX_START = 0x73;  // 's'
constexpr uint8_t TYPESIX_END = 0x65;    // 'e'

// XOR of the bytes: the check byte of a payload covers everything before it.
uint8_t TypeSixCheck(const uint8_t* data, size_t length);

// Wraps a payload that already carries its check byte.
std::vector<uint8_t> WrapTypeSixPayload(const std::vector<uint8_t>& payload);

// One unit the reader took off the line: a complete frame, or bytes that did
// not make one (then `problem` says why and the payload is not to be trusted).
struct TypeSixFrame {
    std::vector<uint8_t> payload;  // un-escaped, check byte included
    std::vector<uint8_t> wire;     // bytes as received, markers included
    std::string problem;           // empty for a well-framed payload
    bool Broken() const { return !problem.empty(); }
};

// Incremental reader: bytes may arrive in any pieces. A start marker always
// begins a new frame, so a frame that lost its end cannot swallow the next.
class TypeSixFrameReader {
public:
    explicit TypeSixFrameReader(size_t maxPayload) : m_maxPayload(maxPayload) {}

    // Takes bytes in; complete or broken units queue up for Next().
    void Feed(const uint8_t* data, size_t length);
    bool Next(TypeSixFrame& frame);

private:
    void StartFrame();
    void EndFrame();
    void TakeByte(uint8_t b);
    void FlushStray();
    void Emit(std::string problem);

    size_t m_maxPayload;
    bool m_inFrame = false;
    bool m_escape = false;
    std::string m_problem;
    std::vector<uint8_t> m_payload;
    std::vector<uint8_t> m_wire;
    size_t m_stray = 0;
    std::vector<TypeSixFrame> m_ready;
    size_t m_readyPos = 0;
};

}  // namespace Sim
