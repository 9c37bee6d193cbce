// The TypeSix rewrite of a partition table: partner files joined to their
// rows, partner rows dropped, type codes folded and the small boot row set
// apart. Everything the built tool prints for a table is checked through the
// binary in tests/cli/installation_run_test.cpp; the rewritten rows show only here.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "settings/burn_context.h"
#include "support/test_files.h"

namespace {

using BurnInfo::BurnContext;
using BurnInfo::PartitionItem;

std::string Typed(const std::string& name, int fileType, const std::string& selectFile = "")
{
    return "  <P Sel=\"1\" PartitionName=\"" + name + "\" FileSystem=\"none\" FlashType=\"spi\" Start=\"0x1000\" " +
           "Length=\"64k\" SelectFile=\"" + selectFile + "\" FileType=\"" + std::to_string(fileType) + "\"/>\n";
}

class TypeSixTable : public ::testing::Test {
protected:
    std::string Write(const std::string& relative, const std::string& bytes)
    {
        TestSupport::WriteText(m_dir + relative, bytes);
        return m_dir + relative;
    }

    // Reads rows as a TypeSix table through the settings steps before it.
    void Parse(const std::string& rows)
    {
        const std::string table = Write("tables/table.xml", "<?xml version=\"1.0\"?>\n<T>\n" + rows + "</T>\n");
        Write("ChipProperties/typesix.txt", "ChipType=0x30002\n");
        Write("config/burn.config", "chipName=typesix\nmode=serial\nfilePath=" + table + "\n");
        m_context = std::make_unique<BurnContext>(m_dir);
        testing::internal::CaptureStdout();
        EXPECT_TRUE(m_context->LoadBurnConfig() && m_context->LoadChipProperties() && m_context->ParseBurnFile());
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    }

    TestSupport::TempDir m_temp{"tarnwick-settings"};
    std::string m_dir = m_temp.Path() + "/";
    std::unique_ptr<BurnContext> m_context;
};

TEST_F(TypeSixTable, PartnersAreJoinedTheirRowsDroppedAndCodesFolded)
{
    const std::string loader = Write("tables/loader.bin", "l");
    const std::string params = Write("tables/params.bin", "p");
    const std::string ssb = Write("tables/ssb.bin", "s");
    const std::string ssbSign = Write("tables/ssb_sign.bin", "g");
    const std::string image = Write("tables/app.bin", "app");
    const std::string digest = Write("tables/app_sha.bin", "sha");
    Parse(Typed("loader", 0, "loader.bin") + Typed("params", 24, "params.bin") +
          Typed("params2", 24, "other.bin") + // the first row of a code is the partner
          Typed("ssb", 28, "ssb.bin") + Typed("ssbsign", 29, "ssb_sign.bin") + Typed("app_image", 100, "app.bin") +
          Typed("app", 102, "app_sha.bin") + Typed("r18", 18) + Typed("r20", 20) + Typed("r22", 22) +
          Typed("r26", 26) + Typed("unknown", 7));
    // Name, folded type and file(s) of each row that stays.
    std::vector<std::tuple<std::string, int, std::string>> rows;
    for (const PartitionItem& row : m_context->GetPartitionInfo()) {
        rows.emplace_back(row.partitionName, row.fileType, row.selectFile);
    }
    EXPECT_EQ(rows, (std::vector<std::tuple<std::string, int, std::string>>{
                        {"loader", 0, loader + "|" + params}, {"app_image", 100, image + "|" + digest},
                        {"r18", 2, ""}, {"r20", 0, ""}, {"r22", 1, ""}, {"r26", 4, ""}}));
    EXPECT_EQ(m_context->GetSmallInfo().partitionName, "ssb");
    EXPECT_EQ(m_context->GetSmallInfo().selectFile, ssb + "|" + ssbSign);

    // A missing partner leaves an empty text after the bar.
    Parse(Typed("loader", 0, "loader.bin"));
    ASSERT_EQ(m_context->GetPartitionInfo().size(), 1u);
    EXPECT_EQ(m_context->GetPartitionInfo()[0].selectFile, loader + "|");
}

} // namespace
