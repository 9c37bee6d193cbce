// What the common tests share: random bytes, and a print callback that keeps
// every call the console funnel makes.
#pragma once

#include "common/console.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace CommonTest {

using Bytes = std::vector<uint8_t>;

inline Bytes RandomBytes(std::mt19937& rng, size_t n)
{
    Bytes v(n);
    for (auto& b : v) {
        b = static_cast<uint8_t>(rng());
    }
    return v;
}

struct PrintCall {
    long long handle;
    std::string tag;
    std::string message;
    std::string detail;
    int type;
};

inline std::vector<PrintCall>& Prints()
{
    static std::vector<PrintCall> calls;
    return calls;
}

inline void RecordPrint(long long handle, const char* tag, const char* message, const char* detail, int type)
{
    Prints().push_back({handle, tag, message, detail, type});
}

// Every message and detail so far, in order.
inline std::string PrintedText()
{
    std::string text;
    for (const PrintCall& call : Prints()) {
        text += call.message + call.detail;
    }
    return text;
}

// Records from construction on; the funnel prints nothing again afterwards.
class PrintRecording {
public:
    PrintRecording()
    {
        Prints().clear();
        g_printInfo = RecordPrint;
    }
    ~PrintRecording() { g_printInfo = nullptr; }
    PrintRecording(const PrintRecording&) = delete;
    PrintRecording& operator=(const PrintRecording&) = delete;
};

} // namespace CommonTest
