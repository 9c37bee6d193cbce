// The run report of -report:PATH, read back as JSON after a burn that
// succeeded, one the board broke off, and one cancelled with SIGINT: always
// written, always whole, and every image attempted in it.
#include <gtest/gtest.h>

#include <signal.h>

#include <nlohmann/json.hpp>

#include "e2e_support.h"

using namespace E2e;

namespace {

const std::vector<PackageImage> PACKAGE{
    {"loader.bin", TYPE_LOADER, 0, 0, Pattern(6000, 1)},
    {"app.bin", TYPE_FLASH, 0x10000, 0x40000, Pattern(200 * 1024, 2)},
};

class RunReport : public E2eTest {
protected:
    nlohmann::json Burn(const std::vector<std::string>& simExtra, const SignalPlan* plan = nullptr)
    {
        const std::string report = Path("run-report.json");
        m_out = OnBoard("--burn", "vb27", Given("fw.fwpkg", BuildPackage(PACKAGE)), {"-report:" + report}, simExtra,
                        RUN_LIMIT_MS, plan);
        EXPECT_FALSE(std::filesystem::exists(report + ".tmp")) << "the temporary file stays behind";
        const nlohmann::json json = ReadJson(report);
        EXPECT_TRUE(json.is_object()) << m_out.run.output;
        return json.is_object() ? json : nlohmann::json::object();
    }

    // What every report says about the run, whatever its outcome.
    void ExpectRunFacts(const nlohmann::json& report, int exitCode)
    {
        const nlohmann::json facts{{"toolVersion", "1.0.0"}, {"operation", "burn"}, {"chipName", "vb27"},
                                   {"chipType", 0x30004},      {"family", "Vb27"},   {"resultCode", exitCode},
                                   {"lineRates", nlohmann::json::array({115200})}};
        EXPECT_EQ(Pick(report, facts), facts);
        EXPECT_FALSE(report.value("port", "").empty());
        const std::string start = report.value("startTime", "");
        EXPECT_EQ(start.size(), 20u) << start;
        EXPECT_EQ(start.back(), 'Z') << start;
        EXPECT_GT(report.value("totalSeconds", 0.0), 0.0);
    }

    BoardRun m_out;
};

// Without the burn check (-c) nothing is read back and each image says so.
TEST_F(RunReport, ASuccessListsEveryImageWithItsBytesAndRateAndNoCheck)
{
    const nlohmann::json report = Burn({});
    ASSERT_EQ(m_out.run.exitCode, 0) << m_out.run.output;
    ExpectRunFacts(report, 0);
    const nlohmann::json outcome{{"resultMeaning", "success"}, {"lastError", ""}, {"failure", nullptr},
                                 {"cancelled", false}};
    EXPECT_EQ(Pick(report, outcome), outcome);
    EXPECT_FALSE(Contains(m_out.run.output, "Burn check")) << m_out.run.output;
    EXPECT_FALSE(Contains(m_out.report.text, "\"upload 0x")) << m_out.report.text;
    const nlohmann::json images = report.value("images", nlohmann::json::array());
    ASSERT_EQ(images.size(), PACKAGE.size()) << report.dump(2);
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

TEST_F(RunReport, ABoardThatBreaksOffGivesTheFailedImageAndTheError)
{
    const nlohmann::json report = Burn({"--close-after", "40000"});
    ASSERT_NE(m_out.run.exitCode, 0) << m_out.run.output;
    ExpectRunFacts(report, m_out.run.exitCode);
    EXPECT_EQ(report.value("resultMeaning", ""), "the loader could not be burned");
    // The failure as it was made, not the last of the messages that followed it.
    EXPECT_EQ(report.value("lastError", ""), "error: the serial line was lost.") << report.dump(2);
    const nlohmann::json failure{{"kind", "lineLost"}, {"image", "app.bin"}};
    EXPECT_EQ(Pick(report["failure"], failure), failure);
    const nlohmann::json images = report.value("images", nlohmann::json::array());
    ASSERT_EQ(images.size(), 2u) << report.dump(2);
    const nlohmann::json results{{{"name", "loader.bin"}, {"result", "ok"}}, {{"name", "app.bin"}, {"result", "failed"}}};
    EXPECT_EQ(nlohmann::json::array({Pick(images[0], results[0]), Pick(images[1], results[1])}), results);
}

TEST_F(RunReport, ACancelledBurnStillWritesItsReport)
{
    const SignalPlan plan{"#", 200, {SIGINT}, 20000};
    const nlohmann::json report = Burn({"--line-baud", "115200"}, &plan);
    ASSERT_GT(m_out.run.exitCode, 0) << m_out.run.output;
    ExpectRunFacts(report, m_out.run.exitCode);
    EXPECT_TRUE(report.value("cancelled", false));
    EXPECT_NE(report.value("lastError", "").find("Cancelled"), std::string::npos) << report.dump(2);
    EXPECT_EQ(report["failure"].value("kind", ""), "cancelled") << report.dump(2);
    const nlohmann::json images = report.value("images", nlohmann::json::array());
    ASSERT_FALSE(images.empty());
    EXPECT_NE(images.back().value("result", ""), "ok");
}

}  // namespace
