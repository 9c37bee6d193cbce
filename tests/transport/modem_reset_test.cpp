// The hands-free reset as the line sees it: every modem-line change in order
// with the time it happened, the waits between them, and one warning from a
// line that has no modem lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/print_capture.h"
#include "transport/modem_reset.h"

namespace {

using Common::ResetSequence;

struct LineChange {
    ModemLine line;
    bool on;
    uint32_t atMs;
};

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
        changes.push_back({line, on, nowMs});
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

class ResetSequenceOnLine : public ::testing::Test {
protected:
    bool Apply(const std::string& text)
    {
        return ModemReset::ApplyResetSequence(m_line, Parsed(text), [this](uint32_t ms) { m_line.nowMs += ms; });
    }

    TestSupport::PrintCapture m_prints;
    ScriptedLine m_line;
};

TEST_F(ResetSequenceOnLine, EveryChangeHappensInOrderAtItsTime)
{
    ASSERT_TRUE(Apply("D0|R1|W0.1|D1|R0|W0.05|D0"));
    const std::vector<LineChange> expected = {
        {ModemLine::DTR, false, 0},  {ModemLine::RTS, true, 0},    {ModemLine::DTR, true, 100},
        {ModemLine::RTS, false, 100}, {ModemLine::DTR, false, 150},
    };
    ASSERT_EQ(m_line.changes.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(m_line.changes[i].line, expected[i].line) << "step " << i;
        EXPECT_EQ(m_line.changes[i].on, expected[i].on) << "step " << i;
        EXPECT_EQ(m_line.changes[i].atMs, expected[i].atMs) << "step " << i;
    }
    EXPECT_EQ(m_prints.Text(), "");
}

TEST_F(ResetSequenceOnLine, ALineWithoutModemLinesWarnsOnceAndStops)
{
    ScriptedLine pty(false);
    EXPECT_FALSE(ModemReset::ApplyResetSequence(pty, Parsed("D0|W0.2|R1|D1"), [&pty](uint32_t ms) { pty.nowMs += ms; }));
    EXPECT_EQ(pty.asked, 1);
    EXPECT_EQ(pty.nowMs, 0u) << "no wait after the refusal";
    EXPECT_EQ(m_prints.Text(),
              "warning: cannot reset the board through the modem lines of /dev/ttyS9 (a pseudo-terminal has no "
              "modem lines); reset it by hand.\n");
}

TEST(ResetSequenceText, WaitsAreSecondsRoundedToMilliseconds)
{
    const ResetSequence sequence = Parsed("W0.0005|W1|W10|W0");
    ASSERT_EQ(sequence.steps.size(), 4u);
    EXPECT_EQ(sequence.steps[0].waitMs, 1u);
    EXPECT_EQ(sequence.steps[1].waitMs, 1000u);
    EXPECT_EQ(sequence.steps[2].waitMs, 10000u);
    EXPECT_EQ(sequence.steps[3].waitMs, 0u);
}

TEST(ResetSequenceText, MalformedStepsAreRefusedNamingTheStep)
{
    for (const std::string text : {"", "D2", "X1", "D0||R1", "D0|", "W", "W-1", "W10.5", "W0.1s", "d0", "D01", "R"}) {
        ResetSequence sequence;
        std::string why;
        EXPECT_FALSE(Common::ParseResetSequence(text, sequence, why)) << "\"" << text << "\"";
        EXPECT_NE(why.find("step \""), std::string::npos) << why;
    }
}

}  // namespace
