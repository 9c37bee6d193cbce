// The hands-free reset as the line sees it: every modem-line change in order
// with the time it happened, the waits between them, and one warning from a
// line that has no modem lines.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "support/print_capture.h"
#include "transport/modem_reset.h"

namespace {

using Common::ResetSequence;

using LineChange = std::tuple<ModemLine, bool, uint32_t>;  // the line, on, at what ms

// A line that records each modem-line change at the time of a virtual clock
// that only the waits of the sequence advance.
class ScriptedLine : public TransportTypeBase {
public:
    explicit ScriptedLine(bool hasModemLines = true) : m_hasModemLines(hasModemLines) { m_deviceName = "/dev/ttyS9"; }

    bool Open(const Common::TRANSPORT_MODE_ATTR_U&) override { return true; }
    void Close() override {}
    unsigned long Send(const unsigned char*, unsigned long length) override { return length; }
    unsigned long Receive(unsigned char*, unsigned long) override { return 0; }
    bool WaitForData(uint32_t) override { return false; }
    LineStatus SetModemLine(ModemLine line, bool on) override
    {
        ++asked;
        if (!m_hasModemLines) {
            return LineStatus::Fail("a pseudo-terminal has no modem lines");
        }
        changes.emplace_back(line, on, nowMs);
        return {};
    }

    std::vector<LineChange> changes;
    uint32_t nowMs = 0;
    int asked = 0;

private:
    bool m_hasModemLines;
};

ResetSequence Parsed(const std::string& text)
{
    ResetSequence sequence;
    std::string why;
    EXPECT_TRUE(Common::ParseResetSequence(text, sequence, why)) << text << ": " << why;
    return sequence;
}

// Applies the sequence with waits that only advance the line's clock.
bool Apply(ScriptedLine& line, const std::string& text)
{
    return ModemReset::ApplyResetSequence(line, Parsed(text), [&line](uint32_t ms) { line.nowMs += ms; });
}

// A line without modem lines warns once and stops: no wait, no further change.
TEST(ResetSequenceOnLine, EveryChangeHappensInOrderAtItsTimeAndALineWithoutModemLinesWarnsOnceAndStops)
{
    TestSupport::PrintCapture prints;
    ScriptedLine line;
    ASSERT_TRUE(Apply(line, "D0|R1|W0.1|D1|R0|W0.05|D0"));
    const std::vector<LineChange> expected = {
        {ModemLine::DTR, false, 0},  {ModemLine::RTS, true, 0},    {ModemLine::DTR, true, 100},
        {ModemLine::RTS, false, 100}, {ModemLine::DTR, false, 150},
    };
    EXPECT_EQ(line.changes, expected);
    EXPECT_EQ(prints.Text(), "");

    ScriptedLine pty(false);
    EXPECT_FALSE(Apply(pty, "D0|W0.2|R1|D1"));
    EXPECT_EQ(pty.asked, 1);
    EXPECT_EQ(pty.nowMs, 0u) << "no wait after the refusal";
    EXPECT_EQ(prints.Text(),
              "warning: cannot reset the board through the modem lines of /dev/ttyS9 (a pseudo-terminal has no "
              "modem lines); reset it by hand.\n");
}

// Waits are seconds rounded to milliseconds; a malformed step is refused by name.
TEST(ResetSequenceText, WaitsAreSecondsRoundedToMillisecondsAndMalformedStepsAreRefusedNamingTheStep)
{
    std::vector<uint32_t> waits;
    for (const auto& step : Parsed("W0.0005|W1|W10|W0").steps) {
        waits.push_back(step.waitMs);
    }
    EXPECT_EQ(waits, (std::vector<uint32_t>{1, 1000, 10000, 0}));
    for (const std::string text : {"", "D2", "X1", "D0||R1", "D0|", "W", "W-1", "W10.5", "W0.1s", "d0", "D01", "R"}) {
        ResetSequence sequence;
        std::string why;
        EXPECT_FALSE(Common::ParseResetSequence(text, sequence, why)) << "\"" << text << "\"";
        EXPECT_NE(why.find("step \""), std::string::npos) << why;
    }
}

}  // namespace
