// What the common tests share: random bytes, and the print calls of the
// console funnel kept by the shared capture.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/print_capture.h"

namespace CommonTest {

using Bytes = std::vector<uint8_t>;
using PrintRecording = TestSupport::PrintCapture;

inline Bytes RandomBytes(std::mt19937& rng, size_t n)
{
    Bytes v(n);
    for (auto& b : v) {
        b = static_cast<uint8_t>(rng());
    }
    return v;
}

inline std::vector<TestSupport::PrintCall>& Prints()
{
    return TestSupport::PrintCapture::Calls();
}

// Every message and detail so far, in order.
inline std::string PrintedText()
{
    return TestSupport::PrintCapture::Text();
}

} // namespace CommonTest
