// The XML partition table: which burn files are parsed, the required
// attributes, Sel and Length rules, image path resolution, and the TypeSix
// rewrite that joins partner files to their rows.

#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>

#include "installation_dir.h"

namespace {

using BurnInfo::BurnContext;
using BurnInfo::PartitionItem;

const char* const VB27 = "0x30004";
const char* const TYPESIX = "0x30002";
const char* const WING = "0x60001";

// One row element; extra holds further attributes or replaces defaults when empty.
std::string Row(const std::string& name, const std::string& extra = "", const std::string& length = "64k",
                const std::string& selectFile = "")
{
    return "  <Partition Sel=\"1\" PartitionName=\"" + name + "\" FileSystem=\"none\" FlashType=\"spi\" " +
           "Start=\"0x1000\" Length=\"" + length + "\" SelectFile=\"" + selectFile + "\" " + extra + "/>\n";
}

std::string Table(const std::string& rows, const std::string& rootAttributes = "")
{
    return "<?xml version=\"1.0\"?>\n<Partitions " + rootAttributes + ">\n" + rows + "</Partitions>\n";
}

class PartitionTableTest : public InstallationDir {
protected:
    // Runs the settings steps up to the table for a table written at
    // tables/<name>; returns what the table step printed.
    std::string Parse(const std::string& xml, bool expected, const char* chipType = VB27,
                      const std::string& name = "table.xml", const std::string& extraConfig = "")
    {
        const std::string table = Write("tables/" + name, xml);
        return ParsePath(table, expected, chipType, extraConfig);
    }

    std::string ParsePath(const std::string& filePath, bool expected, const char* chipType = VB27,
                          const std::string& extraConfig = "")
    {
        Write("ChipProperties/chip.txt", std::string("ChipType=") + chipType + "\n");
        Write("config/burn.config", "chipName=chip\nmode=serial\nfilePath=" + filePath + "\n" + extraConfig);
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

TEST_F(PartitionTableTest, BurnFilesWithoutLowerCaseXmlAreNotParsed)
{
    for (const char* path : {"/no/such/dir/image.fwpkg", "/no/such/dir/image.bin", "bare.bin"}) {
        EXPECT_EQ(ParsePath(path, true), "") << path;
        EXPECT_TRUE(Rows().empty()) << path;
    }
    // The test is case-sensitive: a real table named .XML passes untouched.
    EXPECT_EQ(Parse(Table(Row("boot")), true, VB27, "TABLE.XML"), "");
    EXPECT_TRUE(Rows().empty());
}

TEST_F(PartitionTableTest, BareXmlNameIsAnInvalidPath)
{
    EXPECT_EQ(ParsePath("table.xml", false), "error: Invalid file path: table.xml\n");
}

TEST_F(PartitionTableTest, UnreadableDocumentSaysWhatMayBeWrong)
{
    const std::string expected = "error: Failed to load xml file: " + m_dir +
                                 "tables/table.xml.\nMaybe this is not int XML format, or used by other "
                                 "application.\n";
    EXPECT_EQ(Parse("<Partitions><Partition", false), expected);
    EXPECT_EQ(ParsePath(m_dir + "tables/table.xml.missing/table.xml", false),
              "error: Failed to load xml file: " + m_dir +
                  "tables/table.xml.missing/table.xml.\nMaybe this is not int XML format, or used by other "
                  "application.\n");
}

TEST_F(PartitionTableTest, RootWithoutRowsFails)
{
    EXPECT_EQ(Parse(Table(""), false), "error: FirstChildElement failed.\n");
}

TEST_F(PartitionTableTest, OneValidRowGivesOneRow)
{
    const std::string image = Write("tables/images/boot.bin", std::string(300, 'b'));
    EXPECT_EQ(Parse(Table(Row("boot", "DeviceId=\"2\"", "0x20000", "images/boot.bin")), true), "");
    ASSERT_EQ(Rows().size(), 1u);
    const PartitionItem row = Rows()[0];
    EXPECT_TRUE(row.sel);
    EXPECT_EQ(row.partitionName, "boot");
    EXPECT_EQ(row.fileSystem, "none");
    EXPECT_EQ(row.flashType, "spi");
    EXPECT_EQ(row.deviceId, 2);
    EXPECT_EQ(row.fileType, 0);
    EXPECT_EQ(row.start, 0x1000);
    EXPECT_EQ(row.length, 0x20000);
    EXPECT_EQ(row.selectFile, image);
    EXPECT_EQ(row.fileName, "boot.bin");
    EXPECT_EQ(row.fileSize, 300);
    EXPECT_TRUE(row.elfFile.empty());
}

TEST_F(PartitionTableTest, RowsKeepDocumentOrderAndElementNamesDoNotMatter)
{
    const std::string rows = Row("a") + "  <Anything Sel=\"0\" PartitionName=\"b\" FileSystem=\"ext4\" "
                                        "FlashType=\"emmc\" Start=\"1m\" Length=\"-\" SelectFile=\"\"/>\n" +
                             Row("c");
    Parse(Table(rows), true);
    ASSERT_EQ(Rows().size(), 3u);
    EXPECT_EQ(Rows()[0].partitionName, "a");
    EXPECT_EQ(Rows()[1].partitionName, "b");
    EXPECT_FALSE(Rows()[1].sel) << "unselected rows stay in the table";
    EXPECT_EQ(Rows()[1].start, 1048576);
    EXPECT_EQ(Rows()[2].partitionName, "c");
}

TEST_F(PartitionTableTest, RequiredAttributesAreCheckedInOrder)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"<P PartitionName=\"\" Sel=\"\"/>", "error: Xml format error, not find Sel or Sel value is empty.\n"},
        {"<P Sel=\"1\" PartitionName=\"\"/>",
         "error: Xml format error, not find PartitionName or PartitionName value is empty.\n"},
        {"<P Sel=\"1\" PartitionName=\"a\"/>",
         "error: Xml format error, not find FileSystem or FileSystem value is empty.\n"},
        {"<P Sel=\"1\" PartitionName=\"a\" FileSystem=\"none\" FlashType=\"\"/>",
         "error: Xml format error, not find FlashType or FlashType is empty.\n"},
        {"<P Sel=\"1\" PartitionName=\"a\" FileSystem=\"none\" FlashType=\"spi\"/>",
         "error: Xml format error, not find Start or Start value is empty.\n"},
        {"<P Sel=\"1\" PartitionName=\"a\" FileSystem=\"none\" FlashType=\"spi\" Start=\"0\" Length=\"\"/>",
         "error: Xml format error, not find Length or Length value is empty.\n"},
        {"<P Sel=\"1\" PartitionName=\"a\" FileSystem=\"none\" FlashType=\"spi\" Start=\"0\" Length=\"1\"/>",
         "error: Xml format error, not find SelectFile.\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Parse(Table(c.first), false), c.second) << c.first;
    }
}

TEST_F(PartitionTableTest, SelIsOneOrZeroAsAtoiReadsIt)
{
    EXPECT_EQ(Parse(Table("<P Sel=\"2\" PartitionName=\"a\" FileSystem=\"none\" FlashType=\"spi\" Start=\"0\" "
                          "Length=\"1\" SelectFile=\"\"/>"),
                    false),
              "error: Sel value can only be 1 or 0!\n");

    Parse(Table("<P Sel=\"01\" PartitionName=\"a\" FileSystem=\"none\" FlashType=\"spi\" Start=\"0\" Length=\"1\" "
                "SelectFile=\"\"/>\n<P Sel=\"yes\" PartitionName=\"b\" FileSystem=\"none\" FlashType=\"spi\" "
                "Start=\"0\" Length=\"1\" SelectFile=\"\"/>"),
          true);
    ASSERT_EQ(Rows().size(), 2u);
    EXPECT_TRUE(Rows()[0].sel) << "01 counts as 1";
    EXPECT_FALSE(Rows()[1].sel) << "a non-numeric Sel counts as 0";
}

TEST_F(PartitionTableTest, RowsBeforeAFailingRowStayRead)
{
    EXPECT_EQ(Parse(Table(Row("a") + Row("b", "", "0") + Row("c")), false), "Partition: b length is 0.\n");
    ASSERT_EQ(Rows().size(), 1u);
    EXPECT_EQ(Rows()[0].partitionName, "a");
}

TEST_F(PartitionTableTest, LengthDashMeansNoLengthAndZeroIsRefused)
{
    Parse(Table(Row("all", "", "-")), true);
    ASSERT_EQ(Rows().size(), 1u);
    EXPECT_EQ(Rows()[0].length, 0);
    EXPECT_EQ(Parse(Table(Row("empty", "", "0")), false), "Partition: empty length is 0.\n");
    EXPECT_EQ(Parse(Table(Row("empty", "", "0x0")), false), "Partition: empty length is 0.\n");
}

TEST_F(PartitionTableTest, WingChipsNeedLengthsInWholeSixtyFourKiB)
{
    EXPECT_EQ(Parse(Table(Row("app", "", "0x18000")), false, WING),
              "error: Partition app have invalid xml length: 0x18000, must be a multiple of 64k\n");
    EXPECT_EQ(Parse(Table(Row("app", "", "0x20000") + Row("data", "", "128k") + Row("all", "", "-")), true, WING),
              "");
    EXPECT_EQ(Rows().size(), 3u);
    // Other departments take any non-zero length.
    EXPECT_EQ(Parse(Table(Row("app", "", "0x18000")), true, VB27), "");
}

TEST_F(PartitionTableTest, UnreadableNumbersEndTheTableNamingTheAttribute)
{
    const std::string badStart = "  <P Sel=\"1\" PartitionName=\"boot\" FileSystem=\"none\" FlashType=\"spi\" "
                                 "Start=\"start\" Length=\"64k\" SelectFile=\"\"/>\n";
    EXPECT_EQ(Parse(Table(badStart), false), "error: Partition boot has an invalid Start value: \"start\"\n");
    EXPECT_EQ(Parse(Table(Row("boot", "", "big")), false),
              "error: Partition boot has an invalid Length value: \"big\"\n");
    EXPECT_EQ(Parse(Table(Row("boot", "FileSize=\"\"")), false),
              "error: Partition boot has an invalid FileSize value: \"\"\n");
    EXPECT_EQ(Parse(Table(Row("boot", "", "0xffffffff")), false),
              "error: Partition boot has an invalid Length value: \"0xffffffff\"\n");
}

TEST_F(PartitionTableTest, MissingImageLeavesAnEmptyPathAndNoSize)
{
    Parse(Table(Row("gone", "", "64k", "gone.bin") + Row("sized", "FileSize=\"4k\"", "64k", "gone.bin")), true);
    ASSERT_EQ(Rows().size(), 2u);
    EXPECT_TRUE(Rows()[0].selectFile.empty());
    EXPECT_TRUE(Rows()[0].fileName.empty());
    EXPECT_EQ(Rows()[0].fileSize, 0);
    EXPECT_EQ(Rows()[1].fileSize, 4096) << "a written FileSize is used as given";
}

TEST_F(PartitionTableTest, AnImagePathThatExistsAsWrittenIsTakenUnchanged)
{
    const std::string image = Write("elsewhere/app.bin", "12345");
    const std::string elf = Write("elsewhere/app.elf", "elf");
    Parse(Table(Row("app", "ElfFile=\"" + elf + "\"", "64k", image)), true);
    ASSERT_EQ(Rows().size(), 1u);
    EXPECT_EQ(Rows()[0].selectFile, image);
    EXPECT_EQ(Rows()[0].fileName, "app.bin");
    EXPECT_EQ(Rows()[0].fileSize, 5);
    EXPECT_EQ(Rows()[0].elfFile, elf);
}

TEST_F(PartitionTableTest, ElfFileIsResolvedLikeTheImage)
{
    const std::string elf = Write("tables/app.elf", "elf");
    Parse(Table(Row("a", "ElfFile=\"app.elf\"") + Row("b", "ElfFile=\"none.elf\"") + Row("c", "ElfFile=\"\"")),
          true);
    ASSERT_EQ(Rows().size(), 3u);
    EXPECT_EQ(Rows()[0].elfFile, elf);
    EXPECT_TRUE(Rows()[1].elfFile.empty());
    EXPECT_TRUE(Rows()[2].elfFile.empty());
}

TEST_F(PartitionTableTest, ProgrammerFileDefaultsBesideTheTable)
{
    Parse(Table(Row("a")), true);
    EXPECT_EQ(m_context->GetProgrammerFilePath(), m_dir + "tables/programmer.bin");
    Parse(Table(Row("a"), "ProgrammerFile=\"prog.bin\""), true);
    EXPECT_EQ(m_context->GetProgrammerFilePath(), m_dir + "tables/prog.bin");
    const std::string existing = Write("tools/prog.bin", "p");
    Parse(Table(Row("a"), "ProgrammerFile=\"" + existing + "\""), true);
    EXPECT_EQ(m_context->GetProgrammerFilePath(), existing);
}

class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::string& dir)
    {
        char buffer[PATH_MAX];
        m_previous = getcwd(buffer, sizeof(buffer)) != nullptr ? buffer : "/";
        EXPECT_EQ(chdir(dir.c_str()), 0);
    }
    ~WorkingDirectory() { EXPECT_EQ(chdir(m_previous.c_str()), 0); }

private:
    std::string m_previous;
};

TEST_F(PartitionTableTest, WithoutXmlPathDefaultImagesAreTakenFromTheWorkingDirectory)
{
    Write("tables/app.bin", "in table dir");
    Write("cwd/app.bin", "in working dir");
    WorkingDirectory cwd(m_dir + "cwd");

    Parse(Table(Row("app", "", "64k", "app.bin")), true, VB27, "table.xml", "xmlPathDefault=false\n");
    ASSERT_EQ(Rows().size(), 1u);
    EXPECT_EQ(Rows()[0].selectFile, "app.bin");
    EXPECT_EQ(Rows()[0].fileSize, 14);

    // Only the exact word true keeps the table's directory.
    Parse(Table(Row("app", "", "64k", "app.bin")), true, VB27, "table.xml", "xmlPathDefault=TRUE\n");
    EXPECT_EQ(Rows()[0].selectFile, "app.bin");

    // Without the key, a name found in the working directory still wins.
    Parse(Table(Row("app", "", "64k", "only-here.bin")), true, VB27, "table.xml", "");
    EXPECT_TRUE(Rows()[0].selectFile.empty());
    Write("tables/only-here.bin", "x");
    Parse(Table(Row("app", "", "64k", "only-here.bin")), true, VB27, "table.xml", "xmlPathDefault=false\n");
    EXPECT_TRUE(Rows()[0].selectFile.empty()) << "the table's directory is not searched";
    Parse(Table(Row("app", "", "64k", "only-here.bin")), true, VB27, "table.xml", "xmlPathDefault=true\n");
    EXPECT_EQ(Rows()[0].selectFile, m_dir + "tables/only-here.bin");
}

// --- TypeSix ---------------------------------------------------------------

std::string TypedRow(const std::string& name, int fileType, const std::string& selectFile = "")
{
    return Row(name, "FileType=\"" + std::to_string(fileType) + "\"", "64k", selectFile);
}

TEST_F(PartitionTableTest, TypeSixRowsNeedAFileType)
{
    EXPECT_EQ(Parse(Table(Row("a")), false, TYPESIX),
              "error: Xml format error, not find FileType or FileType value is empty.\n");
    // Other chips ignore the attribute.
    Parse(Table(TypedRow("a", 18)), true, VB27);
    EXPECT_EQ(Rows()[0].fileType, 0);
}

TEST_F(PartitionTableTest, DeviceIdWhenPresentMustHaveAValue)
{
    EXPECT_EQ(Parse(Table(Row("a", "DeviceId=\"\"")), false),
              "error: Xml format error, not find DeviceId or DeviceId is empty.\n");
}

TEST_F(PartitionTableTest, TypeSixDigestFileIsFoundByName)
{
    const std::string image = Write("tables/app.bin", "app");
    const std::string digest = Write("tables/app_sha.bin", "sha");
    Parse(Table(TypedRow("app_image", 100, "app.bin") + TypedRow("app", 102, "app_sha.bin")), true, TYPESIX);
    ASSERT_EQ(Rows().size(), 1u) << "the digest row itself is dropped";
    EXPECT_EQ(Rows()[0].partitionName, "app_image");
    EXPECT_EQ(Rows()[0].fileType, 100);
    EXPECT_EQ(Rows()[0].selectFile, image + "|" + digest);
}

TEST_F(PartitionTableTest, TypeSixImageWithoutDigestRowFails)
{
    EXPECT_EQ(Parse(Table(TypedRow("app", 101, "")), false, TYPESIX), "error: Not find sha256.bin file!\n");
    EXPECT_EQ(Rows().size(), 1u) << "the table read stays as it was";
    // A digest row whose name does not occur in the image's name does not count.
    EXPECT_EQ(Parse(Table(TypedRow("app", 100) + TypedRow("kernel", 102, "k")), false, TYPESIX),
              "error: Not find sha256.bin file!\n");
}

TEST_F(PartitionTableTest, TypeSixRewriteJoinsPartnersAndFoldsCodes)
{
    const std::string loader = Write("tables/loader.bin", "l");
    const std::string params = Write("tables/params.bin", "p");
    const std::string ssb = Write("tables/ssb.bin", "s");
    const std::string ssbSign = Write("tables/ssb_sign.bin", "g");
    const std::string rows = TypedRow("loader", 0, "loader.bin") + TypedRow("params", 24, "params.bin") +
                             TypedRow("ssb", 28, "ssb.bin") + TypedRow("ssbsign", 29, "ssb_sign.bin") +
                             TypedRow("r18", 18) + TypedRow("r20", 20) + TypedRow("r22", 22) + TypedRow("r26", 26) +
                             TypedRow("unknown", 7);
    EXPECT_EQ(Parse(Table(rows), true, TYPESIX), "");

    const std::vector<PartitionItem> table = Rows();
    ASSERT_EQ(table.size(), 5u);
    EXPECT_EQ(table[0].partitionName, "loader");
    EXPECT_EQ(table[0].selectFile, loader + "|" + params);
    const std::pair<const char*, int> folded[] = {{"r18", 2}, {"r20", 0}, {"r22", 1}, {"r26", 4}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(table[i + 1].partitionName, folded[i].first);
        EXPECT_EQ(table[i + 1].fileType, folded[i].second) << folded[i].first;
    }
    const PartitionItem small = m_context->GetSmallInfo();
    EXPECT_EQ(small.partitionName, "ssb");
    EXPECT_EQ(small.selectFile, ssb + "|" + ssbSign);
}

TEST_F(PartitionTableTest, TypeSixMissingPartnerLeavesAnEmptyTextAfterTheBar)
{
    const std::string loader = Write("tables/loader.bin", "l");
    Parse(Table(TypedRow("loader", 0, "loader.bin")), true, TYPESIX);
    ASSERT_EQ(Rows().size(), 1u);
    EXPECT_EQ(Rows()[0].selectFile, loader + "|");
}

TEST_F(PartitionTableTest, TypeSixTableOfPartnersOnlyEndsEmpty)
{
    EXPECT_EQ(Parse(Table(TypedRow("params", 24) + TypedRow("sha", 102)), false, TYPESIX),
              "error: Partition information is empty!\n");
}

TEST(PartitionLookups, FirstRowOfACodeAndDigestByContainedName)
{
    BurnContext context("/nowhere/");
    PartitionItem a;
    a.fileType = 24;
    a.selectFile = "first";
    PartitionItem b = a;
    b.selectFile = "second";
    PartitionItem sha;
    sha.fileType = 102;
    sha.partitionName = "kernel";
    sha.selectFile = "kernel.sha";
    context.SetPartitionInfo({a, b, sha});
    EXPECT_EQ(context.GetFilePath(24), "first");
    EXPECT_EQ(context.GetFilePath(5), "");
    EXPECT_EQ(context.GetShaFilePath("main_kernel_image"), "kernel.sha");
    EXPECT_EQ(context.GetShaFilePath("rootfs"), "");
}

} // namespace
