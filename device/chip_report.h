// What a chip object tells while it works: the events of the run it serves
// (those the job handed down, or the registered callbacks when nobody handed
// any), and the failure of the operation in progress, made where it happened
// and kept as the value the job takes once the operation has failed.
#pragma once

#include <string>
#include <string_view>

#include "common/outcome.h"
#include "common/printf_format.h"
#include "common/run_events.h"

class ChipReport {
public:
    ChipReport() = default;
    ChipReport(const ChipReport&) = delete;
    ChipReport& operator=(const ChipReport&) = delete;

    // The handle the registered callbacks are given.
    void SetHandle(long long handle) { m_callbacks.SetHandle(handle); }
    // Null: the registered callbacks.
    void Use(Common::RunEvents* events) { m_events = events != nullptr ? events : &m_callbacks; }
    Common::RunEvents& Events() { return *m_events; }

    // A device library operation starts: no failure yet, no image.
    void BeginOperation();
    // Failures from now on concern this image.
    void SetImage(const std::string& name) { m_image = name; }

    // Prints the message and keeps it as the operation's failure, unless an
    // earlier failure of the operation is kept already: later messages are
    // its consequences (they only give a message to one kept without any).
    void Fail(Common::OutcomeKind kind, std::string_view message);
    void FailInfo(Common::OutcomeKind kind, const char* format, ...) TARNWICK_PRINTF_FORMAT(3, 4);
    // Keeps a failure whose message was printed elsewhere (the line's own).
    void Note(Common::OutcomeKind kind, std::string_view message);
    const Common::Outcome& Failure() const { return m_failure; }

private:
    Common::CallbackEvents m_callbacks;
    Common::RunEvents* m_events = &m_callbacks;
    Common::Outcome m_failure;
    std::string m_image;
};
