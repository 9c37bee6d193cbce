// The run report of -report:PATH, read back as JSON after a burn that
// succeeded. Runs the board broke off or that were cancelled are in the
// fault matrix, the burn check's in burn_check_test.cpp.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "e2e_support.h"

using namespace E2e;

namespace {

const std::vector<PackageImage> PACKAGE{
    {"loader.bin", TYPE_LOADER, 0, 0, Pattern(6000, 1)},
    {"app.bin", TYPE_FLASH, 0x10000, 0x40000, Pattern(200 * 1024, 2)},
};

class RunReport : public E2eTest {};

// Without the burn check (-c) nothing is read back and each image says so.
TEST_F(RunReport, ASuccessListsEveryImageWithItsBytesAndRateAndNoCheck)
{
    const BoardRun b = Reported("vb27", PACKAGE, {});
    ASSERT_EQ(b.run.exitCode, 0) << b.run.output;
    const nlohmann::json facts{{"toolVersion", "1.0.0"}, {"operation", "burn"}, {"chipName", "vb27"},
                               {"chipType", 0x30004}, {"family", "Vb27"}, {"resultCode", 0},
                               {"lineRates", nlohmann::json::array({115200})}, {"resultMeaning", "success"},
                               {"lastError", ""}, {"failure", nullptr}, {"cancelled", false}};
    EXPECT_EQ(Pick(m_report, facts), facts);
    EXPECT_FALSE(m_report.value("port", "").empty());
    const std::string start = m_report.value("startTime", "");
    EXPECT_EQ(start.size(), 20u) << start;
    EXPECT_EQ(start.back(), 'Z') << start;
    EXPECT_GT(m_report.value("totalSeconds", 0.0), 0.0);
    EXPECT_FALSE(Contains(b.run.output, "Burn check")) << b.run.output;
    EXPECT_FALSE(Contains(b.report.text, "\"upload 0x")) << b.report.text;
    const nlohmann::json images = Images();
    ASSERT_EQ(images.size(), PACKAGE.size()) << m_report.dump(2);
    for (size_t i = 0; i < PACKAGE.size(); ++i) {
        const nlohmann::json expected{{"name", PACKAGE[i].name},     {"type", PACKAGE[i].type},
                                      {"address", PACKAGE[i].burnAddress}, {"bytes", PACKAGE[i].data.size()},
                                      {"attempts", 1},               {"result", "ok"},
                                      {"confirmed", true},           {"check", "not checked"}};
        EXPECT_EQ(Pick(images[i], expected), expected);
        EXPECT_GT(images[i].value("seconds", 0.0), 0.0);
        EXPECT_NEAR(images[i].value("bytesPerSecond", 0.0),
                    static_cast<double>(PACKAGE[i].data.size()) / images[i].value("seconds", 1.0), 1.0);
    }
}

}  // namespace
