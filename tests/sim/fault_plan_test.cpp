// How a fault names the answer, data block or flash cell it hits: what each
// selector means and where each syntax ends.
#include "sim/fault_plan.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using By = Sim::AnswerSelector::By;

TEST(AnswerSelectorSyntax, PositionsCommandCodesAndClosingAcksCountFromOne)
{
    const struct {
        const char* text;
        By by;
        uint8_t code;
        uint64_t nth;
    } good[] = {
        // Plain positions, D2@1, 36@1 and close@N are what the end-to-end runs give.
        {"0x10", By::POSITION, 0, 16},  // a plain number keeps the number syntax
        {"2k", By::POSITION, 0, 2048},
        {"d2@1", By::COMMAND, 0xD2, 1},
        {"5@1", By::COMMAND, 0x05, 1},  // before @ a code is always hex
        {"10@1", By::COMMAND, 0x10, 1},
        {"close@1", By::CLOSING_ACK, 0, 1},
    };
    // One selector for every text: a parse must set every field, not keep the last one's.
    Sim::AnswerSelector s;
    std::string error;
    for (const auto& c : good) {
        ASSERT_TRUE(Sim::ParseAnswerSelector(c.text, s, error)) << c.text << ": " << error;
        EXPECT_EQ(std::tie(s.by, s.code, s.nth, s.text), std::make_tuple(c.by, c.code, c.nth, std::string(c.text)));
    }
    for (const char* bad : {"", "0", "-1", "close", "close@0", "D2@", "@1", "D2@0", "123@1", "0x@1", "G1@1",
                            "D2@x", "closed@1", "7 "}) {
        EXPECT_FALSE(Sim::ParseAnswerSelector(bad, s, error)) << bad;
        EXPECT_NE(error.find(std::string("\"") + bad + "\""), std::string::npos) << error;
    }
}

TEST(AnswerSelectorSyntax, AGarbledAnswerNamesItsMannerAfterTheLastColonAndDefaultsToABrokenCheck)
{
    const struct {
        const char* text;
        Sim::Garble garble;
        By by;
    } good[] = {
        {"5", Sim::Garble::CHECK, By::POSITION},
        {"5:check", Sim::Garble::CHECK, By::POSITION},
        {"close@2:bit", Sim::Garble::BIT, By::CLOSING_ACK},
        {"0x37@1:cut", Sim::Garble::CUT, By::COMMAND},
    };
    Sim::AnswerFault f;
    std::string error;
    for (const auto& c : good) {
        ASSERT_TRUE(Sim::ParseGarbledAnswer(c.text, f, error)) << c.text << ": " << error;
        EXPECT_EQ(std::tie(f.kind, f.garble, f.which.by), std::make_tuple(Sim::AnswerFault::Kind::GARBLED, c.garble, c.by))
            << c.text;
    }
    for (const char* bad : {"5:", "5:Bit", "5:cut:bit", ":cut", "0:cut"}) {
        EXPECT_FALSE(Sim::ParseGarbledAnswer(bad, f, error)) << bad;
    }
}

// An address alone and bit 7 are what the burn-check runs give (tests/e2e/burn_check_test.cpp).
TEST(BlockAndCellSelectorSyntax, APositionOrATransferAndItsBlockAndACellAnAddressAndABitFromZeroToSeven)
{
    Sim::BlockSelector s;
    std::string error;
    ASSERT_TRUE(Sim::ParseBlockSelector("12", s, error)) << error;
    EXPECT_EQ(std::tie(s.transfer, s.nth), std::make_tuple(0u, uint64_t{12}));
    ASSERT_TRUE(Sim::ParseBlockSelector("2:300", s, error)) << error;  // block numbers go on past 255
    EXPECT_EQ(std::tie(s.transfer, s.nth), std::make_tuple(2u, uint64_t{300}));
    for (const char* bad : {"0", "0:1", "1:0", "2:", ":3", "1:2:3", "x"}) {
        EXPECT_FALSE(Sim::ParseBlockSelector(bad, s, error)) << bad;
    }
    Sim::BadCell cell;
    ASSERT_TRUE(Sim::ParseBadCell("64k:7", cell, error)) << error;
    EXPECT_EQ(std::tie(cell.address, cell.bit), std::make_tuple(65536u, 7));
    for (const char* bad : {"", ":3", "0x10:8", "0x10:", "0x10:-1", "zz"}) {
        EXPECT_FALSE(Sim::ParseBadCell(bad, cell, error)) << bad;
    }
}

}  // namespace
