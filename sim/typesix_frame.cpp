#include "sim/typesix_frame.h"

#include <cstdio>

#include "common/checksum.h"

namespace Sim {

uint8_t TypeSixCheck(const uint8_t* data, size_t length)
{
    return Common::CalculateCrc(data, static_cast<uint32_t>(length));
}

std::vector<uint8_t> WrapTypeSixPayload(const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> wire;
    wire.reserve(payload.size() + payload.size() / 16 + 4);
    wire.push_back(TYPESIX_ESCAPE);
    wire.push_back(TYPESIX_START);
    for (uint8_t b : payload) {
        wire.push_back(b);
        if (b == TYPESIX_ESCAPE) {
            wire.push_back(TYPESIX_ESCAPE);
        }
    }
    wire.push_back(TYPESIX_ESCAPE);
    wire.push_back(TYPESIX_END);
    return wire;
}

void TypeSixFrameReader::Feed(const uint8_t* data, size_t length)
{
    if (m_readyPos == m_ready.size()) {
        m_ready.clear();
        m_readyPos = 0;
    }
    for (size_t i = 0; i < length; ++i) {
        uint8_t b = data[i];
        if (m_inFrame && m_wire.size() <= m_maxPayload * 2 + 4) {
            m_wire.push_back(b);
        }
        if (!m_escape) {
            if (b == TYPESIX_ESCAPE) {
                m_escape = true;
            } else if (m_inFrame) {
                TakeByte(b);
            } else {
                ++m_stray;
            }
            continue;
        }
        m_escape = false;
        if (b == TYPESIX_START) {
            StartFrame();
        } else if (b == TYPESIX_END) {
            if (m_inFrame) {
                EndFrame();
            } else {
                m_stray += 2;
            }
        } else if (!m_inFrame) {
            m_stray += 2;
        } else {
            if (b != TYPESIX_ESCAPE && m_problem.empty()) {
                char text[64];
                std::snprintf(text, sizeof(text), "0x5C followed by 0x%02X inside a frame", b);
                m_problem = text;
            }
            TakeByte(b);
        }
    }
}

void TypeSixFrameReader::TakeByte(uint8_t b)
{
    if (m_payload.size() >= m_maxPayload) {
        if (m_problem.empty()) {
            m_problem = "frame longer than " + std::to_string(m_maxPayload) + " bytes";
        }
        return;
    }
    m_payload.push_back(b);
}

void TypeSixFrameReader::StartFrame()
{
    FlushStray();
    if (m_inFrame) {
        // The marker just taken belongs to the new frame, not to the lost one.
        m_wire.resize(m_wire.size() >= 2 ? m_wire.size() - 2 : 0);
        Emit("frame without end marker (" + std::to_string(m_payload.size()) + " payload bytes) dropped");
    }
    m_inFrame = true;
    m_problem.clear();
    m_payload.clear();
    m_wire.assign({TYPESIX_ESCAPE, TYPESIX_START});
}

void TypeSixFrameReader::EndFrame()
{
    Emit(m_problem);
    m_inFrame = false;
    m_problem.clear();
    m_payload.clear();
    m_wire.clear();
}

void TypeSixFrameReader::FlushStray()
{
    if (m_stray == 0) {
        return;
    }
    TypeSixFrame frame;
    frame.problem = std::to_string(m_stray) + " bytes outside a frame";
    m_stray = 0;
    m_ready.push_back(std::move(frame));
}

void TypeSixFrameReader::Emit(std::string problem)
{
    TypeSixFrame frame;
    frame.payload = std::move(m_payload);
    frame.wire = std::move(m_wire);
    frame.problem = std::move(problem);
    m_payload.clear();
    m_wire.clear();
    m_ready.push_back(std::move(frame));
}

bool TypeSixFrameReader::Next(TypeSixFrame& frame)
{
    if (m_readyPos >= m_ready.size()) {
        m_ready.clear();
        m_readyPos = 0;
        return false;
    }
    frame = std::move(m_ready[m_readyPos++]);
    return true;
}

}  // namespace Sim
