// The built tool run as a process in an installation of the test's own:
// dispatch, usage and version, burn.config, options, chip property files and
// partition tables, judged by what it prints and its exit code.

#include <gtest/gtest.h>

#include "installed_tool.h"

namespace {

const char* const USAGE_FIRST_LINE = "tarnwickcmd.exe --burn [-f filePath] [-p programmerPath]\n";
const char* const PARSE_FAILED = "error: Parse command arguments failed!\n";
const char* const CHIP_FAILED = "error: Load chip properties file failed!\n";
const char* const TABLE_FAILED = "error: Parse partition burn file failed!\n";
// A port that exists on no machine, so a job that reaches the port fails at once.
const char* const NO_PORT = "/dev/tarnwick-no-such-port";

// What a run prints once every settings step has passed and the job for the
// chip type was chosen: every job opens the port first, and the port does not
// exist here.
std::string JobReachedFor(const char* /*chipType*/)
{
    return "error: Open serial port :" + std::string(NO_PORT) + " failed";
}

std::string Row(const std::string& name, const std::string& length = "64k", const std::string& extra = "",
                const std::string& sel = "1")
{
    return "<Partition Sel=\"" + sel + "\" PartitionName=\"" + name + "\" FileSystem=\"none\" FlashType=\"spi\" "
           "Start=\"0\" Length=\"" + length + "\" SelectFile=\"" + name + ".bin\" " + extra + "/>\n";
}

std::string Table(const std::string& rows)
{
    return "<?xml version=\"1.0\"?>\n<Partitions>\n" + rows + "</Partitions>\n";
}

// An installation whose burn.config is complete except for the chip name and
// burn file, with property files for the three families and a wing chip.
class InstallationRun : public InstalledTool {
protected:
    void SetUp() override
    {
        InstalledTool::SetUp();
        WriteConfig("mode=serial\nserialPort=/dev/tarnwick-no-such-port\nbaudRate=115200\nstopBit=0\nparity=0\n");
        WriteChip("vb27", "ChipType=0x30004\n");
        WriteChip("qn4180", "ChipType=0x30005\n");
        WriteChip("typesix", "ChipType=0x30002\n");
        WriteChip("wing", "ChipType=0x60001\n");
        m_package = Write("images/app.fwpkg", "package");
    }

    // --burn with the chip and burn file on the command line, plus more options.
    RunResult Burn(const std::string& chip, const std::string& file, std::vector<std::string> more = {})
    {
        std::vector<std::string> arguments{"--burn", "-n", chip, "-f", file};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return Run(arguments);
    }

    // Burns with a table written at tables/table.xml.
    RunResult BurnTable(const std::string& chip, const std::string& xml)
    {
        return Burn(chip, Write("tables/table.xml", xml));
    }

    std::string m_package;
};

// --- dispatch, usage and version -------------------------------------------

TEST_F(InstallationRun, NoArgumentsPrintUsageAndFail)
{
    RunResult run = Run({});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output.rfind(USAGE_FIRST_LINE, 0), 0u) << run.output;
    EXPECT_TRUE(Contains(run.output, "--read    | -r    This command will read the flash data into a file according "
                                     "to the partition table filePath.\n                  you need to configure "
                                     "the burn.config file.\n"));
}

TEST_F(InstallationRun, HelpAndUnacceptedFirstArgumentsPrintUsageAndSucceed)
{
    const RunResult reference = Run({});
    for (const char* first : {"--help", "--version", "-h", "-help", "-b", "-e", "-r", "burn"}) {
        RunResult run = Run({first});
        EXPECT_EQ(run.exitCode, 0) << first;
        EXPECT_EQ(run.output, reference.output) << first;
        EXPECT_FALSE(Contains(run.output, "Version")) << first;
    }
}

TEST_F(InstallationRun, VersionNeedsNoFileAtAll)
{
    std::filesystem::remove_all(m_dir + "bin/config");
    std::filesystem::remove_all(m_dir + "bin/ChipProperties");
    for (const char* first : {"-v", "-version"}) {
        RunResult run = Run({first, "--config", "/no/such/file"});
        EXPECT_EQ(run.exitCode, 0) << first;
        EXPECT_EQ(run.output, "TarnwickCmd Version: 1.0.0\n") << first;
    }
}

// --- a run that passes every settings step ---------------------------------

TEST_F(InstallationRun, EverySettingsStepPassedReachesTheJob)
{
    for (const char* operation : {"--burn", "--erase", "--read"}) {
        RunResult run = Run({operation, "-n", "vb27", "-f", m_package, "-readfile:" + m_dir + "out.bin",
                             "-readsize:4k"});
        EXPECT_EQ(run.exitCode, 3) << operation;
        EXPECT_TRUE(Contains(run.output, JobReachedFor("0x30004"))) << run.output;
        EXPECT_FALSE(Contains(run.output, "successfully")) << run.output;
    }
}

TEST_F(InstallationRun, OptionPassIsTracedOnEveryRun)
{
    RunResult run = Burn("vb27", m_package);
    EXPECT_EQ(run.output.rfind("\n[DEBUG PARSE] argc=6, EXTRA_START=2\n[DEBUG PARSE] argv[2]=-n\n"
                               "[DEBUG PARSE] argv[3]=vb27\n[DEBUG PARSE] argv[4]=-f\n",
                               0),
              0u)
        << run.output;
}

TEST_F(InstallationRun, InstallationIsFoundFromAnyWorkingDirectoryAndThroughASymlink)
{
    std::filesystem::create_directories(m_dir + "elsewhere");
    RunResult fromElsewhere = Run({"--burn", "-n", "vb27", "-f", m_package}, m_dir + "elsewhere");
    EXPECT_TRUE(Contains(fromElsewhere.output, JobReachedFor("0x30004"))) << fromElsewhere.output;

    std::filesystem::create_directories(m_dir + "path");
    std::filesystem::create_symlink(m_tool, m_dir + "path/tarnwickcmd");
    RunResult viaLink = Run({"--burn", "-n", "qn4180", "-f", m_package}, m_dir + "elsewhere",
                            m_dir + "path/tarnwickcmd");
    EXPECT_TRUE(Contains(viaLink.output, JobReachedFor("0x30005"))) << viaLink.output;
}

// --- options ----------------------------------------------------------------

TEST_F(InstallationRun, UnknownModeFailsTheOptionPass)
{
    RunResult run = Burn("vb27", m_package, {"-m", "usb", "COM3"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.output, std::string("error: Un123know serial transport: usb!\n") + PARSE_FAILED))
        << run.output;
}

TEST_F(InstallationRun, SerialModeAsLastArgumentsFailsTheOptionPass)
{
    RunResult run = Burn("vb27", m_package, {"-m", "serial"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.output, std::string("error: Serial port name missing after mode serial!\n") +
                                         PARSE_FAILED))
        << run.output;
}

TEST_F(InstallationRun, PacketSizeIsChecked)
{
    RunResult bad = Burn("vb27", m_package, {"-packagesize:1000"});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_TRUE(Contains(bad.output, std::string("error: Invalid packagesize 1000, valid values are 1024, 2048, "
                                                 "4096, 8192\n") +
                                         PARSE_FAILED))
        << bad.output;
    RunResult good = Burn("vb27", m_package, {"-packagesize:4096"});
    EXPECT_TRUE(Contains(good.output, JobReachedFor("0x30004"))) << good.output;
}

TEST_F(InstallationRun, UnreadableNumberOptionFailsTheOptionPass)
{
    RunResult run = Run({"--erase", "-n", "vb27", "-f", m_package, "-e", "everything"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.output, std::string("error: Invalid number for option -e: \"everything\"\n") +
                                         PARSE_FAILED))
        << run.output;
}

TEST_F(InstallationRun, ResetAndSwitchOptionsAreAccepted)
{
    RunResult run = Burn("vb27", m_package,
                         {"-reset", "-reset:0", "-re", "5", "-onlyburn:app", "-burninterval:20", "-erasemode:1",
                          "-onlyeraseall", "-switchafterloader", "-beforereset", "-c", "1", "-e", "64k"});
    EXPECT_TRUE(Contains(run.output, JobReachedFor("0x30004"))) << run.output;
}

TEST_F(InstallationRun, ValueOptionInTheLastPositionIsIgnored)
{
    for (const char* option : {"-b", "-n", "-f", "-l", "-e", "-c", "--config"}) {
        RunResult run = Burn("vb27", m_package, {option});
        EXPECT_EQ(run.exitCode, 3) << option;
        EXPECT_FALSE(Contains(run.output, PARSE_FAILED)) << option;
        EXPECT_TRUE(Contains(run.output, JobReachedFor("0x30004"))) << option << ": " << run.output;
    }
}

TEST_F(InstallationRun, SecondNameWinsAndReplacesTheConfiguredOne)
{
    WriteConfig("chipName=typesix\nmode=serial\nserialPort=/dev/tarnwick-no-such-port\n");
    RunResult run = Run({"--burn", "-n", "nosuchchip", "-f", m_package, "-n", "qn4180"});
    EXPECT_TRUE(Contains(run.output, JobReachedFor("0x30005"))) << run.output;
}

TEST_F(InstallationRun, OtherDepartmentsAreRejectedWithTheFullChipType)
{
    RunResult run = Burn("wing", m_package);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.output, "error: Invalid chiptype :393217\n")) << run.output;
    EXPECT_FALSE(Contains(run.output, "No burn job")) << run.output;
}

// --- burn.config --------------------------------------------------------------

TEST_F(InstallationRun, MissingBurnConfigFailsEvenWithEverySettingGiven)
{
    std::filesystem::remove(m_dir + "bin/config/burn.config");
    RunResult run = Burn("vb27", m_package, {"-m", "serial", NO_PORT});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, "error: Open burn.config failed!\n");
}

TEST_F(InstallationRun, EmptyBurnConfigNeedsNameFileAndMode)
{
    WriteConfig("");
    RunResult bare = Run({"--burn"});
    EXPECT_EQ(bare.exitCode, 1);
    EXPECT_TRUE(Contains(bare.output, "error: Chip name not found!\n")) << bare.output;

    RunResult noMode = Burn("vb27", m_package);
    EXPECT_EQ(noMode.exitCode, 1);
    EXPECT_TRUE(Contains(noMode.output, "error: Transport way not found!\n")) << noMode.output;

    RunResult complete = Burn("vb27", m_package, {"-m", "serial", NO_PORT});
    EXPECT_TRUE(Contains(complete.output, JobReachedFor("0x30004"))) << complete.output;
}

TEST_F(InstallationRun, ConfiguredChipAndFileNeedNoOptions)
{
    WriteConfig("chipName=typesix\nfilePath=" + m_package + "\nmode=serial\nserialPort=/dev/tarnwick-no-such-port\n");
    RunResult run = Run({"--burn"});
    EXPECT_TRUE(Contains(run.output, JobReachedFor("0x30002"))) << run.output;
    WriteConfig("chipName=vb27\nmode=serial\nserialPort=/dev/tarnwick-no-such-port\n");
    RunResult noFile = Run({"--burn"});
    EXPECT_TRUE(Contains(noFile.output, "error: Burn file not found!\n")) << noFile.output;
}

TEST_F(InstallationRun, LinesWithAHashAreSkippedWhole)
{
    WriteConfig("# comment\nmode=usb # would be refused if read\nmode=serial\nserialPort=/dev/tarnwick-no-such-port\n");
    RunResult run = Burn("vb27", m_package);
    EXPECT_TRUE(Contains(run.output, JobReachedFor("0x30004"))) << run.output;
}

TEST_F(InstallationRun, ModeIsTrimmedButTheChipNameKeepsItsBlank)
{
    WriteConfig("mode= \tserial\t \nserialPort=/dev/tarnwick-no-such-port\nchipName=vb27 \nfilePath=" + m_package + "\n");
    RunResult run = Run({"--burn"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.output, "error: Open file failed: " + m_dir + "bin/ChipProperties/vb27 .txt\n" +
                                         CHIP_FAILED))
        << run.output;
}

TEST_F(InstallationRun, UnknownConfiguredModeFailsTheLoad)
{
    WriteConfig("mode=usb\n");
    RunResult run = Burn("vb27", m_package, {"-m", "serial", NO_PORT});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, "error: Unknown transport: usb!\n");
}

TEST_F(InstallationRun, LinesWithoutExactlyOneEqualsSignAreIgnored)
{
    WriteConfig("mode=serial=x\nmode\nserialPort=/dev/tarnwick-no-such-port\n");
    RunResult run = Burn("vb27", m_package);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.output, "error: Transport way not found!\n")) << run.output;
}

TEST_F(InstallationRun, NumberKeysAcceptTheNumberSyntaxAndRefuseOtherText)
{
    WriteConfig("mode=serial\nserialPort=/dev/tarnwick-no-such-port\nreset=0x10\nburnCheck=1k\n");
    RunResult good = Burn("vb27", m_package);
    EXPECT_TRUE(Contains(good.output, JobReachedFor("0x30004"))) << good.output;

    WriteConfig("mode=serial\nserialPort=/dev/tarnwick-no-such-port\nburnCheck=on\n");
    RunResult bad = Burn("vb27", m_package);
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_EQ(bad.output,
              "error: Invalid number for key burnCheck in " + m_dir + "bin/config/burn.config: \"on\"\n");
}

TEST_F(InstallationRun, ConfigOptionReadsThatFileInstead)
{
    WriteConfig("mode=usb\n");  // would fail if it were read
    const std::string other = Write("other.config", "chipName=qn4180\nmode=serial\nserialPort=/dev/tarnwick-no-such-port\n");
    RunResult run = Run({"--burn", "--config", other, "-f", m_package});
    EXPECT_TRUE(Contains(run.output, JobReachedFor("0x30005"))) << run.output;

    RunResult missing = Run({"--burn", "--config", m_dir + "missing.config"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.output, "error: Open burn.config failed!\n");
}

// --- chip property files ------------------------------------------------------

TEST_F(InstallationRun, ChipTypeInHexOrDecimalSelectsTheFamily)
{
    WriteChip("hex", "ChipType=0x30004");
    WriteChip("decimal", "ChipType=196612\nResetAtCommand=AT+RESET\n");
    EXPECT_TRUE(Contains(Burn("hex", m_package).output, JobReachedFor("0x30004")));
    EXPECT_TRUE(Contains(Burn("decimal", m_package).output, JobReachedFor("0x30004")));
}

TEST_F(InstallationRun, ChipWithoutPropertyFileFails)
{
    RunResult run = Burn("nosuchchip", m_package);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.output, "error: Open file failed: " + m_dir + "bin/ChipProperties/nosuchchip.txt\n" +
                                         CHIP_FAILED))
        << run.output;
}

TEST_F(InstallationRun, BlankBeforeTheEqualsSignLeavesTheChipTypeUnset)
{
    WriteChip("blank", "ChipType =0x30004\n");
    RunResult run = Burn("blank", m_package);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.output, "error: ChipType not found in file " + m_dir + "bin/ChipProperties/blank.txt\n" +
                                         CHIP_FAILED))
        << run.output;
}

TEST_F(InstallationRun, UnreadableChipTypeFailsNamingIt)
{
    WriteChip("bad", "ChipType=vb27\n");
    RunResult run = Burn("bad", m_package);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.output, "error: Invalid number for key ChipType in file " + m_dir +
                                         "bin/ChipProperties/bad.txt: \"vb27\"\n" + CHIP_FAILED))
        << run.output;
}

TEST_F(InstallationRun, WingChipTableIsReadUnderTheSixtyFourKiBRuleBeforeTheDepartmentCheck)
{
    RunResult odd = BurnTable("wing", Table(Row("app", "0x18000")));
    EXPECT_EQ(odd.exitCode, 1);
    EXPECT_TRUE(Contains(odd.output, std::string("error: Partition app have invalid xml length: 0x18000, must be a "
                                                 "multiple of 64k\n") +
                                         TABLE_FAILED))
        << odd.output;

    RunResult whole = BurnTable("wing", Table(Row("app", "0x20000") + Row("data", "128k")));
    EXPECT_EQ(whole.exitCode, 1);
    EXPECT_TRUE(Contains(whole.output, "error: Invalid chiptype :393217\n")) << whole.output;

    RunResult otherDepartment = BurnTable("vb27", Table(Row("app", "0x18000")));
    EXPECT_TRUE(Contains(otherDepartment.output, JobReachedFor("0x30004"))) << otherDepartment.output;
}

// --- partition tables ---------------------------------------------------------

TEST_F(InstallationRun, PackagesImagesAndCapitalXmlAreNotParsed)
{
    // None of these files exists: nothing reads them in the settings steps.
    for (const char* file : {"/absent/app.fwpkg", "/absent/app.bin", "/absent/TABLE.XML"}) {
        RunResult run = Burn("vb27", file);
        EXPECT_TRUE(Contains(run.output, JobReachedFor("0x30004"))) << file << ": " << run.output;
    }
}

TEST_F(InstallationRun, BareXmlNameIsAnInvalidPath)
{
    Write("table.xml", Table(Row("app")));
    RunResult run = Burn("vb27", "table.xml");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.output, std::string("error: Invalid file path: table.xml\n") + TABLE_FAILED))
        << run.output;
}

TEST_F(InstallationRun, TableFailuresEndWithTheTableMessage)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {Table(""), "error: FirstChildElement failed.\n"},
        {Table(Row("app", "64k", "", "2")), "error: Sel value can only be 1 or 0!\n"},
        {Table(Row("app", "0")), "Partition: app length is 0.\n"},
        {Table(Row("app", "lots")), "error: Partition app has an invalid Length value: \"lots\"\n"},
        {"<Partitions><Partition", "Maybe this is not int XML format, or used by other application.\n"},
    };
    for (const auto& c : cases) {
        RunResult run = BurnTable("vb27", c.first);
        EXPECT_EQ(run.exitCode, 1) << c.first;
        EXPECT_TRUE(Contains(run.output, c.second + TABLE_FAILED)) << c.first << "\n" << run.output;
    }
}

TEST_F(InstallationRun, AcceptedTablesReachTheJobChoice)
{
    const std::vector<std::string> tables = {
        Table(Row("app")),
        Table(Row("all", "-")),
        Table(Row("app", "64k", "", "01")),
        Table(Row("app", "64k", "", "no")),
        // An image that exists nowhere is no error while the table is read.
        Table(Row("missing", "64k", "FileSize=\"4k\"")),
    };
    for (const std::string& table : tables) {
        RunResult run = BurnTable("vb27", table);
        EXPECT_EQ(run.exitCode, 3) << table;
        EXPECT_TRUE(Contains(run.output, JobReachedFor("0x30004"))) << table << "\n" << run.output;
    }
}

TEST_F(InstallationRun, TypeSixImagesNeedTheirDigestRow)
{
    const std::string image = Row("app_image", "64k", "FileType=\"100\"");
    const std::string digest = Row("app", "64k", "FileType=\"102\"");
    RunResult digestFileMissing = BurnTable("typesix", Table(image + digest));
    EXPECT_TRUE(Contains(digestFileMissing.output, "error: Not find sha256.bin file!\n")) << digestFileMissing.output;

    Write("tables/app.bin", "digest");
    RunResult joined = BurnTable("typesix", Table(image + digest));
    EXPECT_TRUE(Contains(joined.output, JobReachedFor("0x30002"))) << joined.output;

    RunResult alone = BurnTable("typesix", Table(image));
    EXPECT_EQ(alone.exitCode, 1);
    EXPECT_TRUE(Contains(alone.output, std::string("error: Not find sha256.bin file!\n") + TABLE_FAILED))
        << alone.output;
}

} // namespace
