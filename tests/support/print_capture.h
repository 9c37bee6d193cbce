// What device-side code prints through the console funnel, kept while a
// capture lives. Header-only: the support library stays free of the console.
#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "common/console.h"

namespace TestSupport {

struct PrintCall {
    long long handle;
    std::string tag;
    std::string message;
    std::string detail;
    int type;
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
    // Message and detail of each call.
    std::vector<std::string> Lines() const
    {
        std::lock_guard<std::mutex> lock(Lock());
        std::vector<std::string> lines;
        for (const PrintCall& call : Calls()) {
            lines.push_back(call.message + call.detail);
        }
        return lines;
    }
    static std::string Text()
    {
        std::string text;
        for (const PrintCall& call : Calls()) {
            text += call.message + call.detail;
        }
        return text;
    }
    // The messages only, in order.
    std::string Messages() const
    {
        std::lock_guard<std::mutex> lock(Lock());
        std::string text;
        for (const PrintCall& call : Calls()) {
            text += call.message;
        }
        return text;
    }
    bool Has(const std::string& part) const { return Messages().find(part) != std::string::npos; }
    // How often part stands in the messages.
    size_t Count(const std::string& part) const
    {
        const std::string text = Messages();
        size_t n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
            ++n;
        }
        return n;
    }
    // How many calls printed exactly this line.
    int CountLine(const std::string& line) const
    {
        const std::vector<std::string> lines = Lines();
        return static_cast<int>(std::count(lines.begin(), lines.end(), line));
    }
    // The messages since the last Take.
    std::string Take()
    {
        const std::string text = Messages();
        Clear();
        return text;
    }

private:
    static std::mutex& Lock()
    {
        static std::mutex lock;
        return lock;
    }
    static void OnPrint(long long handle, const char* tag, const char* message, const char* detail, int type)
    {
        std::lock_guard<std::mutex> lock(Lock());
        Calls().push_back({handle, tag, message, detail, type});
    }
};

}  // namespace TestSupport
