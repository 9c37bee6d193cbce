// The built tool run as a process in an installation of the test's own:
// dispatch, usage and version, options, burn.config, chip property files and
// partition tables, judged by what it prints and its exit code.
#include <gtest/gtest.h>

#include "installed_tool.h"

namespace {

const std::string USAGE_FIRST_LINE = "tarnwickcmd.exe --burn [-f filePath] [-p programmerPath]\n";
const std::string PARSE_FAILED = "error: Parse command arguments failed!\n";
const std::string CHIP_FAILED = "error: Load chip properties file failed!\n";
const std::string TABLE_FAILED = "error: Parse partition burn file failed!\n";
// A port that exists on no machine: a run that passed every settings step and
// got its job fails at once when the job opens the port.
const std::string NO_PORT = "/dev/tarnwick-no-such-port";
const std::string JOB = "error: Open serial port :" + NO_PORT + " failed";
const std::string MODE = "mode=serial\nserialPort=" + NO_PORT + "\n";
const std::string DEFAULT = "<complete burn.config>";
const std::string NO_CONFIG = "<no burn.config>";

std::string Row(const std::string& name, const std::string& length = "64k", const std::string& extra = "",
                const std::string& sel = "1")
{
    return "<Partition Sel=\"" + sel + "\" PartitionName=\"" + name + "\" FileSystem=\"none\" FlashType=\"spi\" " +
           "Start=\"0\" Length=\"" + length + "\" SelectFile=\"" + name + ".bin\" " + extra + "/>\n";
}

std::string Table(const std::string& rows)
{
    return "<?xml version=\"1.0\"?>\n<Partitions>\n" + rows + "</Partitions>\n";
}

enum class Match { HAS, IS, STARTS };

struct Case {
    const char* chip;              // set: "--burn -n <chip> -f <package or table>" come first
    std::vector<std::string> args; // "$DIR" and "$PKG" stand for the test directory and the package
    std::string config;            // DEFAULT, NO_CONFIG or the text of burn.config
    std::string table;             // set: written at tables/table.xml and burnt instead of the package
    int exitCode;
    Match match;
    std::string expected;
};

const Case CASES[] = {
    // Operations and options.
    {"", {"--burn", "-n", "vb27", "-f", "$PKG", "-readfile:$DIR/out.bin", "-readsize:4k"}, DEFAULT, "", 3, Match::HAS, JOB},
    {"", {"--erase", "-n", "vb27", "-f", "$PKG"}, DEFAULT, "", 3, Match::HAS, JOB},
    {"", {"--read", "-n", "vb27", "-f", "$PKG", "-readfile:$DIR/out.bin", "-readsize:4k"}, DEFAULT, "", 3, Match::HAS, JOB},
    {"vb27", {}, DEFAULT, "", 3, Match::STARTS, "\n[DEBUG PARSE] argc=6, EXTRA_START=2\n[DEBUG PARSE] argv[2]=-n\n"
                                               "[DEBUG PARSE] argv[3]=vb27\n[DEBUG PARSE] argv[4]=-f\n"},
    {"vb27", {"-m", "usb", "COM3"}, DEFAULT, "", 1, Match::HAS, "error: Un123know serial transport: usb!\n" + PARSE_FAILED},
    {"vb27", {"-m", "serial"}, DEFAULT, "", 1, Match::HAS,
     "error: Serial port name missing after mode serial!\n" + PARSE_FAILED},
    {"vb27", {"-packagesize:1000"}, DEFAULT, "", 1, Match::HAS,
     "error: Invalid packagesize 1000, valid values are 1024, 2048, 4096, 8192\n" + PARSE_FAILED},
    {"vb27", {"-packagesize:4096"}, DEFAULT, "", 3, Match::HAS, JOB},
    {"", {"--erase", "-n", "vb27", "-f", "$PKG", "-e", "everything"}, DEFAULT, "", 1, Match::HAS,
     "error: Invalid number for option -e: \"everything\"\n" + PARSE_FAILED},
    {"vb27", {"-reset", "-reset:0", "-re", "5", "-onlyburn:app", "-burninterval:20", "-erasemode:1", "-onlyeraseall",
              "-switchafterloader", "-beforereset", "-c", "1", "-e", "64k"}, DEFAULT, "", 3, Match::HAS, JOB},
    // The second -n wins, over the configured name too.
    {"", {"--burn", "-n", "nosuchchip", "-f", "$PKG", "-n", "qn4180"}, "chipName=nosuchchip\n" + MODE, "", 3, Match::HAS, JOB},
    {"wing", {}, DEFAULT, "", 1, Match::HAS, "error: Invalid chiptype :393217\n"},
    // A connection chip without a job of its own offers neither erase nor read.
    {"", {"--erase", "-n", "conn", "-f", "$PKG"}, DEFAULT, "", 12, Match::HAS,
     "chip: conn does not support the erase function.\n"},
    {"", {"--read", "-n", "conn", "-f", "$PKG"}, DEFAULT, "", 7, Match::HAS,
     "chip: conn does not support the read function.\n"},
    // burn.config.
    {"vb27", {"-m", "serial", NO_PORT}, NO_CONFIG, "", 1, Match::IS, "error: Open burn.config failed!\n"},
    {"", {"--burn"}, "", "", 1, Match::HAS, "error: Chip name not found!\n"},
    {"vb27", {}, "", "", 1, Match::HAS, "error: Transport way not found!\n"},
    {"vb27", {"-m", "serial", NO_PORT}, "", "", 3, Match::HAS, JOB},
    {"", {"--burn"}, "chipName=typesix\nfilePath=$PKG\n" + MODE, "", 3, Match::HAS, JOB},
    {"", {"--burn"}, "chipName=vb27\n" + MODE, "", 1, Match::HAS, "error: Burn file not found!\n"},
    // A carriage return belongs to the line break, also on a last line without one.
    {"", {"--burn"}, "chipName=vb27\r\nfilePath=$PKG\r\nmode=serial\r\nserialPort=" + NO_PORT + "\r", "", 3,
     Match::HAS, JOB},
    {"", {"--burn", "-f", "$PKG"}, "chipName =vb27\nChipName=vb27\n" + MODE, "", 1, Match::HAS,
     "error: Chip name not found!\n"},
    {"vb27", {}, "# comment\nmode=usb # refused if it were read\n" + MODE, "", 3, Match::HAS, JOB},
    {"", {"--burn"}, "mode= \tserial\t \nserialPort=" + NO_PORT + "\nchipName=vb27 \nfilePath=$PKG\n", "", 1, Match::HAS,
     "error: Open file failed: $DIR/bin/ChipProperties/vb27 .txt\n" + CHIP_FAILED},
    {"vb27", {"-m", "serial", NO_PORT}, "mode=usb\n", "", 1, Match::IS, "error: Unknown transport: usb!\n"},
    {"vb27", {}, "mode=serial=x\nmode\nserialPort=" + NO_PORT + "\n", "", 1, Match::HAS, "error: Transport way not found!\n"},
    {"vb27", {}, MODE + "reset=0x10\nburnCheck=1k\n", "", 3, Match::HAS, JOB},
    {"vb27", {}, MODE + "burnCheck=on\n", "", 1, Match::IS,
     "error: Invalid number for key burnCheck in $DIR/bin/config/burn.config: \"on\"\n"},
    {"", {"--burn", "--config", "$DIR/other.config", "-f", "$PKG"}, "mode=usb\n", "", 3, Match::HAS, JOB},
    {"", {"--burn", "--config", "$DIR/missing.config"}, DEFAULT, "", 1, Match::IS, "error: Open burn.config failed!\n"},
    {"", {"--burn", "--config", "$DIR/missing.config", "--config", "$DIR/other.config", "-f", "$PKG"}, "mode=usb\n", "",
     3, Match::HAS, JOB},
    // Chip property files.
    {"hex", {}, DEFAULT, "", 3, Match::HAS, JOB},
    {"decimal", {}, DEFAULT, "", 3, Match::HAS, JOB},
    {"nosuchchip", {}, DEFAULT, "", 1, Match::HAS,
     "error: Open file failed: $DIR/bin/ChipProperties/nosuchchip.txt\n" + CHIP_FAILED},
    {"blank", {}, DEFAULT, "", 1, Match::HAS,
     "error: ChipType not found in file $DIR/bin/ChipProperties/blank.txt\n" + CHIP_FAILED},
    {"bad", {}, DEFAULT, "", 1, Match::HAS,
     "error: Invalid number for key ChipType in file $DIR/bin/ChipProperties/bad.txt: \"vb27\"\n" + CHIP_FAILED},
    // Department 6: the table is read under the 64 KiB rule, then the department is refused.
    {"wing", {}, DEFAULT, Table(Row("app", "0x18000")), 1, Match::HAS,
     "error: Partition app have invalid xml length: 0x18000, must be a multiple of 64k\n" + TABLE_FAILED},
    {"wing", {}, DEFAULT, Table(Row("app", "0x20000") + Row("data", "128k")), 1, Match::HAS,
     "error: Invalid chiptype :393217\n"},
    {"vb27", {}, DEFAULT, Table(Row("app", "0x18000")), 3, Match::HAS, JOB},
    // Partition tables; none of these burn files exists, nothing reads them.
    {"", {"--burn", "-n", "vb27", "-f", "/absent/app.fwpkg"}, DEFAULT, "", 3, Match::HAS, JOB},
    {"", {"--burn", "-n", "vb27", "-f", "/absent/app.bin"}, DEFAULT, "", 3, Match::HAS, JOB},
    {"", {"--burn", "-n", "vb27", "-f", "/absent/TABLE.XML"}, DEFAULT, "", 3, Match::HAS, JOB},
    {"", {"--burn", "-n", "vb27", "-f", "table.xml"}, DEFAULT, "", 1, Match::HAS,
     "error: Invalid file path: table.xml\n" + TABLE_FAILED},
    {"vb27", {}, DEFAULT, Table(""), 1, Match::HAS, "error: FirstChildElement failed.\n" + TABLE_FAILED},
    {"vb27", {}, DEFAULT, Table(Row("app", "64k", "", "2")), 1, Match::HAS,
     "error: Sel value can only be 1 or 0!\n" + TABLE_FAILED},
    {"vb27", {}, DEFAULT, Table(Row("app", "0")), 1, Match::HAS, "Partition: app length is 0.\n" + TABLE_FAILED},
    {"vb27", {}, DEFAULT, Table(Row("app", "lots")), 1, Match::HAS,
     "error: Partition app has an invalid Length value: \"lots\"\n" + TABLE_FAILED},
    {"vb27", {}, DEFAULT, "<Partitions><Partition", 1, Match::HAS,
     "Maybe this is not int XML format, or used by other application.\n" + TABLE_FAILED},
    {"vb27", {}, DEFAULT, Table(Row("app")), 3, Match::HAS, JOB},
    {"vb27", {}, DEFAULT, Table(Row("all", "-")), 3, Match::HAS, JOB},
    {"vb27", {}, DEFAULT, Table(Row("app", "64k", "", "01")), 3, Match::HAS, JOB},
    {"vb27", {}, DEFAULT, Table(Row("app", "64k", "", "no")), 3, Match::HAS, JOB},
    // An image that exists nowhere is no error while the table is read.
    {"vb27", {}, DEFAULT, Table(Row("missing", "64k", "FileSize=\"4k\"")), 3, Match::HAS, JOB},
    // TypeSix: an image row needs a digest row whose file exists (tables/app.bin does).
    {"typesix", {}, DEFAULT, Table(Row("app_image", "64k", "FileType=\"100\"") + Row("app", "64k", "FileType=\"102\"")),
     3, Match::HAS, JOB},
    {"typesix", {}, DEFAULT, Table(Row("kern_image", "64k", "FileType=\"100\"") + Row("kern", "64k", "FileType=\"102\"")),
     1, Match::HAS, "error: Not find sha256.bin file!\n"},
    {"typesix", {}, DEFAULT, Table(Row("app_image", "64k", "FileType=\"100\"")), 1, Match::HAS,
     "error: Not find sha256.bin file!\n" + TABLE_FAILED},
};

std::string Expand(std::string text, const std::string& dir, const std::string& package)
{
    for (const auto& [mark, value] : {std::pair<std::string, std::string>{"$DIR/", dir}, {"$PKG", package}}) {
        for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + value.size())) {
            text.replace(at, mark.size(), value);
        }
    }
    return text;
}

// An installation with property files for the three families, a wing chip and
// some broken ones, a package, a second config and a table beside the work dir.
class InstallationRun : public InstalledTool {
protected:
    void SetUp() override
    {
        InstalledTool::SetUp();
        const std::pair<const char*, const char*> chips[] = {
            {"vb27", "ChipType=0x30004\n"}, {"qn4180", "ChipType=0x30005\n"}, {"typesix", "ChipType=0x30002\n"},
            {"wing", "ChipType=0x60001\n"}, {"conn", "ChipType=0x30001\n"}, {"hex", "ChipType=0x30004"},
            {"decimal", "ChipType=196612\nResetAtCommand=AT+RESET\n"}, {"blank", "ChipType =0x30004\n"},
            {"bad", "ChipType=vb27\n"}};
        for (const auto& chip : chips) {
            Write(std::string("bin/ChipProperties/") + chip.first + ".txt", chip.second);
        }
        m_package = Write("images/app.fwpkg", "package");
        Write("other.config", "chipName=qn4180\n" + MODE);
        Write("table.xml", Table(Row("app")));
        Write("tables/app.bin", "digest");
    }

    std::string m_package;
};

TEST_F(InstallationRun, EachSettingsEdgeCaseEndsWithItsMessageAndExitCode)
{
    for (size_t i = 0; i < sizeof(CASES) / sizeof(CASES[0]); ++i) {
        const Case& c = CASES[i];
        std::filesystem::remove(m_dir + "bin/config/burn.config");
        if (c.config != NO_CONFIG) {
            Write("bin/config/burn.config", Expand(c.config == DEFAULT ? MODE + "baudRate=115200\n" : c.config, m_dir,
                                                   m_package));
        }
        std::vector<std::string> arguments;
        if (*c.chip != '\0') {
            const std::string file = c.table.empty() ? m_package : Write("tables/table.xml", c.table);
            arguments = {"--burn", "-n", c.chip, "-f", file};
        }
        for (const std::string& argument : c.args) {
            arguments.push_back(Expand(argument, m_dir, m_package));
        }
        const RunResult run = Run(arguments);
        const std::string expected = Expand(c.expected, m_dir, m_package);
        const bool matched = c.match == Match::IS       ? run.output == expected
                             : c.match == Match::STARTS ? run.output.rfind(expected, 0) == 0
                                                        : Contains(run.output, expected);
        EXPECT_TRUE(matched) << "case " << i << " wants: " << expected << "\nprinted: " << run.output;
        EXPECT_EQ(run.exitCode, c.exitCode) << "case " << i << " printed: " << run.output;
    }
}

TEST_F(InstallationRun, AValueOptionInTheLastPositionIsIgnored)
{
    Write("bin/config/burn.config", MODE);
    const char* const options[] = {"-n", "-m", "-f", "-b", "-s", "-p", "-l",
                                   "-e", "-re", "-c", "-elf", "-txt", "--config"};
    for (const char* option : options) {
        const RunResult run = Run({"--burn", "-n", "vb27", "-f", m_package, option});
        EXPECT_TRUE(Contains(run.output, JOB)) << option << ": " << run.output;
        EXPECT_EQ(run.exitCode, 3) << option;
    }
}

TEST_F(InstallationRun, UsageWithOneForNoArgumentsAndZeroForHelpAndUnacceptedFirstArgumentsAndPortsListsPorts)
{
    const RunResult usage = Run({});
    EXPECT_EQ(usage.exitCode, 1);
    EXPECT_EQ(usage.output.rfind(USAGE_FIRST_LINE, 0), 0u) << usage.output;
    EXPECT_TRUE(Contains(usage.output, "--read    | -r    This command will read the flash data into a file according "
                                       "to the partition table filePath.\n                  you need to configure "
                                       "the burn.config file.\n"));
    const std::string ports = "--ports           list the serial ports of this machine, one a line, with the USB "
                              "description.\n";
    EXPECT_TRUE(usage.output.size() > ports.size() && usage.output.substr(usage.output.size() - ports.size()) == ports);
    const RunResult listed = Run({"--ports"});
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_FALSE(Contains(listed.output, USAGE_FIRST_LINE)) << listed.output;
    for (const char* first : {"--help", "--version", "-h", "-help", "-b", "-e", "-r", "burn", "--config"}) {
        const RunResult run = Run({first});
        EXPECT_EQ(run.exitCode, 0) << first;
        EXPECT_EQ(run.output, usage.output) << first;
    }
}

TEST_F(InstallationRun, VersionNeedsNoFileAtAll)
{
    std::filesystem::remove_all(m_dir + "bin/ChipProperties");
    for (const char* first : {"-v", "-version"}) {
        const RunResult run = Run({first, "--config", "/no/such/file"});
        EXPECT_EQ(run.exitCode, 0) << first;
        EXPECT_EQ(run.output, "TarnwickCmd Version: 1.0.0\n") << first;
    }
}

TEST_F(InstallationRun, InstallationIsFoundFromAnyWorkingDirectoryAndThroughASymlink)
{
    Write("bin/config/burn.config", MODE);
    std::filesystem::create_directories(m_dir + "elsewhere");
    std::filesystem::create_directories(m_dir + "path");
    std::filesystem::create_symlink(m_tool, m_dir + "path/tarnwickcmd");
    for (const std::string& program : {m_tool, m_dir + "path/tarnwickcmd"}) {
        const RunResult run = Run({"--burn", "-n", "qn4180", "-f", m_package}, m_dir + "elsewhere", program);
        EXPECT_TRUE(Contains(run.output, JOB)) << program << ": " << run.output;
        EXPECT_EQ(run.exitCode, 3) << program;
    }
}

} // namespace
