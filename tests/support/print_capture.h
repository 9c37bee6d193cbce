// What device-side code prints through the console funnel, kept while a
// capture lives. Header-only: the support library stays free of the console.
#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "common/console.h"
#include "support/test_files.h"

namespace TestSupport {

struct PrintCall {
    long long handle;
    std::string message;
    std::string detail;
};

class PrintCapture {
public:
    PrintCapture()
    {
        Clear();
        g_printInfo = &PrintCapture::OnPrint;
    }
    ~PrintCapture() { g_printInfo = nullptr; }
    PrintCapture(const PrintCapture&) = delete;
    PrintCapture& operator=(const PrintCapture&) = delete;

    // The calls themselves, for single-threaded tests.
    static std::vector<PrintCall>& Calls()
    {
        static std::vector<PrintCall> calls;
        return calls;
    }
    static void Clear()
    {
        std::lock_guard<std::mutex> lock(Lock());
        Calls().clear();
    }
    // Message and detail of each call, joined.
    static std::string Text() { return Joined(true); }
    // The messages only, in order.
    std::string Messages() const { return Joined(false); }
    bool Has(const std::string& part) const { return Contains(Messages(), part); }
    // How often part stands in the messages.
    size_t Count(const std::string& part) const { return CountOf(Messages(), part); }
    // How many calls printed exactly this line.
    int CountLine(const std::string& line) const
    {
        std::lock_guard<std::mutex> lock(Lock());
        const auto isLine = [&](const PrintCall& call) { return call.message + call.detail == line; };
        return static_cast<int>(std::count_if(Calls().begin(), Calls().end(), isLine));
    }
    // The messages since the last Take.
    std::string Take()
    {
        const std::string text = Messages();
        Clear();
        return text;
    }

private:
    static std::string Joined(bool withDetail)
    {
        std::lock_guard<std::mutex> lock(Lock());
        std::string text;
        for (const PrintCall& call : Calls()) {
            text += withDetail ? call.message + call.detail : call.message;
        }
        return text;
    }
    static std::mutex& Lock()
    {
        static std::mutex lock;
        return lock;
    }
    static void OnPrint(long long handle, const char*, const char* message, const char* detail, int)
    {
        std::lock_guard<std::mutex> lock(Lock());
        Calls().push_back({handle, message, detail});
    }
};

}  // namespace TestSupport
