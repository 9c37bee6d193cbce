// The XML partition table read into rows: required attributes, image path
// resolution and sizes, and the TypeSix rewrite that joins partner files to
// their rows. What the built tool prints for a table is checked in
// tests/cli/installation_run_test.cpp.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>

#include "installation_dir.h"

namespace {

using BurnInfo::BurnContext;
using BurnInfo::PartitionItem;

const char* const VB27 = "0x30004";
const char* const TYPESIX = "0x30002";

std::string Row(const std::string& name, const std::string& extra = "", const std::string& length = "64k",
                const std::string& selectFile = "")
{
    return "  <Partition Sel=\"1\" PartitionName=\"" + name + "\" FileSystem=\"none\" FlashType=\"spi\" " +
           "Start=\"0x1000\" Length=\"" + length + "\" SelectFile=\"" + selectFile + "\" " + extra + "/>\n";
}

std::string TypedRow(const std::string& name, int fileType, const std::string& selectFile = "")
{
    return Row(name, "FileType=\"" + std::to_string(fileType) + "\"", "64k", selectFile);
}

std::string Table(const std::string& rows, const std::string& rootAttributes = "")
{
    return "<?xml version=\"1.0\"?>\n<Partitions " + rootAttributes + ">\n" + rows + "</Partitions>\n";
}

class PartitionTableTest : public InstallationDir {
protected:
    // Runs the settings steps up to the table for xml written at
    // tables/table.xml; returns what the table step printed.
    std::string Parse(const std::string& xml, bool expected, const char* chipType = VB27,
                      const std::string& extraConfig = "")
    {
        const std::string table = Write("tables/table.xml", xml);
        Write("ChipProperties/chip.txt", std::string("ChipType=") + chipType + "\n");
        Write("config/burn.config", "chipName=chip\nmode=serial\nfilePath=" + table + "\n" + extraConfig);
        m_context = NewContext();
        EXPECT_TRUE(m_context->LoadBurnConfig());
        EXPECT_TRUE(m_context->LoadChipProperties());
        bool parsed = !expected;
        std::string output = CaptureOutput([&] { parsed = m_context->ParseBurnFile(); });
        EXPECT_EQ(parsed, expected) << output;
        return output;
    }

    std::vector<PartitionItem> Rows() const { return m_context->GetPartitionInfo(); }

    std::unique_ptr<BurnContext> m_context;
};

TEST_F(PartitionTableTest, EachBrokenRowFailsWithItsMessage)
{
    const std::string head = "<P Sel=\"1\" PartitionName=\"a\" FileSystem=\"none\" FlashType=\"spi\" ";
    const std::string missing = "error: Xml format error, not find ";
    const std::pair<std::string, std::string> vb27Cases[] = {
        {"<P PartitionName=\"\" Sel=\"\"/>", missing + "Sel or Sel value is empty.\n"},
        {"<P Sel=\"1\" PartitionName=\"\"/>", missing + "PartitionName or PartitionName value is empty.\n"},
        {"<P Sel=\"1\" PartitionName=\"a\"/>", missing + "FileSystem or FileSystem value is empty.\n"},
        {"<P Sel=\"1\" PartitionName=\"a\" FileSystem=\"none\" FlashType=\"\"/>",
         missing + "FlashType or FlashType is empty.\n"},
        {head + "/>", missing + "Start or Start value is empty.\n"},
        {head + "Start=\"0\" Length=\"\"/>", missing + "Length or Length value is empty.\n"},
        {head + "Start=\"0\" Length=\"1\"/>", missing + "SelectFile.\n"},
        {Row("a", "DeviceId=\"\""), missing + "DeviceId or DeviceId is empty.\n"},
        {head + "Start=\"start\" Length=\"64k\" SelectFile=\"\"/>", "error: Partition a has an invalid Start value: \"start\"\n"},
        {Row("a", "FileSize=\"\""), "error: Partition a has an invalid FileSize value: \"\"\n"},
        {Row("a", "", "0xffffffff"), "error: Partition a has an invalid Length value: \"0xffffffff\"\n"},
    };
    for (const auto& c : vb27Cases) {
        EXPECT_EQ(Parse(Table(c.first), false), c.second) << c.first;
    }
    const std::pair<std::string, std::string> typeSixCases[] = {
        {Row("a"), missing + "FileType or FileType value is empty.\n"},
        // A digest row whose name does not occur in the image's name does not count.
        {TypedRow("app", 100) + TypedRow("kernel", 102, "k"), "error: Not find sha256.bin file!\n"},
        {TypedRow("params", 24) + TypedRow("sha", 102), "error: Partition information is empty!\n"},
    };
    for (const auto& c : typeSixCases) {
        EXPECT_EQ(Parse(Table(c.first), false, TYPESIX), c.second) << c.first;
    }
}

TEST_F(PartitionTableTest, RowsCarryEveryAttributeInDocumentOrder)
{
    const std::string image = Write("tables/images/boot.bin", std::string(300, 'b'));
    const std::string rows = Row("boot", "DeviceId=\"2\" FileType=\"18\"", "0x20000", "images/boot.bin") +
                             "  <Anything Sel=\"0\" PartitionName=\"b\" FileSystem=\"ext4\" FlashType=\"emmc\" "
                             "Start=\"1m\" Length=\"-\" SelectFile=\"\"/>\n" +
                             "  <P Sel=\"01\" PartitionName=\"c\" FileSystem=\"none\" FlashType=\"spi\" Start=\"0\" "
                             "Length=\"1\" SelectFile=\"\"/>\n" +
                             "  <P Sel=\"yes\" PartitionName=\"d\" FileSystem=\"none\" FlashType=\"spi\" Start=\"0\" "
                             "Length=\"1\" SelectFile=\"\"/>\n";
    EXPECT_EQ(Parse(Table(rows), true), "");
    const std::vector<PartitionItem> table = Rows();
    ASSERT_EQ(table.size(), 4u);
    const PartitionItem& boot = table[0];
    EXPECT_TRUE(boot.sel);
    EXPECT_EQ(boot.partitionName, "boot");
    EXPECT_EQ(boot.fileSystem, "none");
    EXPECT_EQ(boot.flashType, "spi");
    EXPECT_EQ(boot.deviceId, 2);
    EXPECT_EQ(boot.fileType, 0) << "only TypeSix reads FileType";
    EXPECT_EQ(boot.start, 0x1000);
    EXPECT_EQ(boot.length, 0x20000);
    EXPECT_EQ(boot.selectFile, image);
    EXPECT_EQ(boot.fileName, "boot.bin");
    EXPECT_EQ(boot.fileSize, 300);
    EXPECT_TRUE(boot.elfFile.empty());
    EXPECT_EQ(table[1].partitionName, "b");
    EXPECT_FALSE(table[1].sel) << "unselected rows stay in the table";
    EXPECT_EQ(table[1].start, 1048576);
    EXPECT_EQ(table[1].length, 0) << "Length \"-\" means no length";
    EXPECT_TRUE(table[2].sel) << "01 counts as 1";
    EXPECT_FALSE(table[3].sel) << "a non-numeric Sel counts as 0";
}

TEST_F(PartitionTableTest, ImagePathsAreResolvedOrLeftEmpty)
{
    const std::string image = Write("elsewhere/app.bin", "12345");
    const std::string elf = Write("elsewhere/app.elf", "elf");
    const std::string besideElf = Write("tables/beside.elf", "elf");
    Parse(Table(Row("gone", "ElfFile=\"none.elf\"", "64k", "gone.bin") +
                Row("sized", "FileSize=\"4k\" ElfFile=\"beside.elf\"", "64k", "gone.bin") +
                Row("app", "ElfFile=\"" + elf + "\"", "64k", image)),
          true);
    const std::vector<PartitionItem> table = Rows();
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[0].selectFile + table[0].fileName + table[0].elfFile, "");
    EXPECT_EQ(table[0].fileSize, 0);
    EXPECT_EQ(table[1].fileSize, 4096) << "a written FileSize is used as given";
    EXPECT_EQ(table[1].elfFile, besideElf);
    EXPECT_EQ(table[2].selectFile, image) << "a path that exists as written is taken unchanged";
    EXPECT_EQ(table[2].fileName, "app.bin");
    EXPECT_EQ(table[2].fileSize, 5);
    EXPECT_EQ(table[2].elfFile, elf);
}

TEST_F(PartitionTableTest, WithoutXmlPathDefaultImagesAreTakenFromTheWorkingDirectoryOnly)
{
    Write("tables/app.bin", "in table dir");
    Write("cwd/app.bin", "in working dir");
    Write("tables/only-here.bin", "x");
    char previous[PATH_MAX];
    ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
    ASSERT_EQ(chdir((m_dir + "cwd").c_str()), 0);
    const struct {
        const char* file;
        const char* config;
        std::string selectFile;
        int fileSize;
    } cases[] = {
        {"app.bin", "xmlPathDefault=false\n", "app.bin", 14},
        {"app.bin", "xmlPathDefault=TRUE\n", "app.bin", 14}, // only the exact word true keeps the table's directory
        {"only-here.bin", "xmlPathDefault=false\n", "", 0},
        {"only-here.bin", "xmlPathDefault=true\n", m_dir + "tables/only-here.bin", 1},
        {"app.bin", "", "app.bin", 14}, // without the key the working directory still comes first
        {"only-here.bin", "", m_dir + "tables/only-here.bin", 1},
    };
    std::vector<std::vector<PartitionItem>> results;
    for (const auto& c : cases) {
        Parse(Table(Row("app", "", "64k", c.file)), true, VB27, c.config);
        results.push_back(Rows());
    }
    ASSERT_EQ(chdir(previous), 0);
    for (size_t i = 0; i < results.size(); ++i) {
        ASSERT_EQ(results[i].size(), 1u);
        EXPECT_EQ(results[i][0].selectFile, cases[i].selectFile) << cases[i].file << " " << cases[i].config;
        EXPECT_EQ(results[i][0].fileSize, cases[i].fileSize) << cases[i].file << " " << cases[i].config;
    }
}

TEST_F(PartitionTableTest, TypeSixRewriteJoinsPartnersDropsTheirRowsAndFoldsCodes)
{
    const std::string loader = Write("tables/loader.bin", "l");
    const std::string params = Write("tables/params.bin", "p");
    const std::string ssb = Write("tables/ssb.bin", "s");
    const std::string ssbSign = Write("tables/ssb_sign.bin", "g");
    const std::string image = Write("tables/app.bin", "app");
    const std::string digest = Write("tables/app_sha.bin", "sha");
    const std::string rows = TypedRow("loader", 0, "loader.bin") + TypedRow("params", 24, "params.bin") +
                             TypedRow("params2", 24, "other.bin") + // the first row of a code is the partner
                             TypedRow("ssb", 28, "ssb.bin") + TypedRow("ssbsign", 29, "ssb_sign.bin") +
                             TypedRow("app_image", 100, "app.bin") + TypedRow("app", 102, "app_sha.bin") +
                             TypedRow("r18", 18) + TypedRow("r20", 20) + TypedRow("r22", 22) + TypedRow("r26", 26) +
                             TypedRow("unknown", 7);
    EXPECT_EQ(Parse(Table(rows), true, TYPESIX), "");
    const std::vector<PartitionItem> table = Rows();
    ASSERT_EQ(table.size(), 6u);
    EXPECT_EQ(table[0].partitionName, "loader");
    EXPECT_EQ(table[0].selectFile, loader + "|" + params);
    EXPECT_EQ(table[1].partitionName, "app_image");
    EXPECT_EQ(table[1].fileType, 100);
    EXPECT_EQ(table[1].selectFile, image + "|" + digest);
    const std::pair<const char*, int> folded[] = {{"r18", 2}, {"r20", 0}, {"r22", 1}, {"r26", 4}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(table[i + 2].partitionName, folded[i].first);
        EXPECT_EQ(table[i + 2].fileType, folded[i].second) << folded[i].first;
    }
    EXPECT_EQ(m_context->GetSmallInfo().partitionName, "ssb");
    EXPECT_EQ(m_context->GetSmallInfo().selectFile, ssb + "|" + ssbSign);

    // A missing partner leaves an empty text after the bar.
    Parse(Table(TypedRow("loader", 0, "loader.bin")), true, TYPESIX);
    ASSERT_EQ(Rows().size(), 1u);
    EXPECT_EQ(Rows()[0].selectFile, loader + "|");
}

} // namespace
