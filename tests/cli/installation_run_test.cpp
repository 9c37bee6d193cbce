// The built tool copied into an installation of the test's own and run as a
// process: dispatch, usage and version, options, burn.config, chip property
// files and partition tables, judged by what it prints and its exit code.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/fwpkg_builder.h"
#include "support/test_files.h"

using TestSupport::Contains;
using TestSupport::RunResult;

namespace {

const std::string USAGE_FIRST_LINE = "tarnwickcmd.exe --burn [-f filePath] [-p programmerPath]\n";
const std::string PARSE_FAILED = "error: Parse command arguments failed!\n";
const std::string CHIP_FAILED = "error: Load chip properties file failed!\n";
const std::string TABLE_FAILED = "error: Parse partition burn file failed!\n";
const std::string MISSING = "error: Xml format error, not find ";
const std::string NO_DIGEST = "error: Not find sha256.bin file!\n";
// A port that exists on no machine, longer than 32 characters: a run that
// passed every settings step and got its job fails at once when the job
// opens it, and the message shows the name was kept whole.
const std::string NO_PORT = "/dev/serial/by-id/usb-tarnwick-no-such-port-0123456789ABCDEF-if00";
const std::string JOB = "error: Open serial port :" + NO_PORT + " failed";
const std::string MODE = "mode=serial\nserialPort=" + NO_PORT + "\n";
// Settings passed; the job refuses a burn file that is no package before it
// asks for the reset or opens the port.
const std::string TABLE_NOT_PACKAGE = "table.xml format error!\n";
const std::string TYPESIX_TABLE_NOT_PACKAGE = "error: Unknown fwpkg format, flag: ";
const std::string DEFAULT = "<complete burn.config>";
const std::string NO_CONFIG = "<no burn.config>";
const std::string IS_PACKAGE = "is the package";

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

std::string Typed(const std::string& name, int fileType, const std::string& selectFile = "")
{
    return "<P Sel=\"1\" PartitionName=\"" + name + "\" FileSystem=\"none\" FlashType=\"spi\" Start=\"0\" " +
           "Length=\"64k\" SelectFile=\"" + selectFile + "\" FileType=\"" + std::to_string(fileType) + "\"/>\n";
}

// Rows are read in a loop: a table this long must not exhaust the stack.
std::string LongTable()
{
    std::string rows;
    for (int i = 0; i < 200000; ++i) {
        rows += Row("p", "-", "", "0");
    }
    return Table(rows);
}

const std::string HEAD = "<P Sel=\"1\" PartitionName=\"a\" FileSystem=\"none\" FlashType=\"spi\" ";
// tables/app.bin exists and is found beside the table unless xmlPathDefault is off.
const std::string TYPESIX_APP = Table(Typed("app_image", 100) + Typed("app", 102, "app.bin"));

enum class Match { HAS, IS, STARTS };

struct Case {
    const char* chip;              // set: "--burn -n <chip> -f <package or table>" come first
    std::vector<std::string> args; // "$DIR" and "$PKG" stand for the test directory and the package
    int exitCode = 3;
    std::string expected = JOB;
    std::string table = "";        // set: written at tables/table.xml and burnt instead of the package
    std::string config = DEFAULT;  // DEFAULT, NO_CONFIG or the text of burn.config
    Match match = Match::HAS;
};

const Case CASES[] = {
    // Dispatch, operations and options.
    {"", {"-v", "--config", "/no/such/file"}, 0, "TarnwickCmd Version: 1.0.0\n", "", NO_CONFIG, Match::IS},
    {"", {"-version"}, 0, "TarnwickCmd Version: 1.0.0\n", "", NO_CONFIG, Match::IS},
    {"", {"--burn", "-n", "vb27", "-f", "$PKG", "-readfile:$DIR/out.bin", "-readsize:4k"}},
    // A read needs an output that is not the package under any name, and a size; the port stays shut.
    {"", {"--read", "-n", "vb27", "-f", "$PKG", "-readsize:4k"}, 1,
     "error: No output file for the read: give it with -readfile:PATH\n"},
    {"", {"--read", "-n", "vb27", "-f", "$PKG", "-readfile:$DIR/out.bin", "-readsize:0"}, 1,
     "error: Nothing to read: give the number of bytes with -readsize:N\n"},
    {"", {"--read", "-n", "vb27", "-f", "$PKG", "-readfile:$DIR/link.fwpkg", "-readsize:1"}, 1, IS_PACKAGE},
    {"", {"--read", "-n", "vb27", "-f", "$PKG", "-readfile:$DIR/hard.fwpkg", "-readsize:1"}, 1, IS_PACKAGE},
    {"vb27", {}, 3, "\n[DEBUG PARSE] argc=6, EXTRA_START=2\n[DEBUG PARSE] argv[2]=-n\n[DEBUG PARSE] argv[3]=vb27\n"
                    "[DEBUG PARSE] argv[4]=-f\n", "", DEFAULT, Match::STARTS},
    {"vb27", {"-m", "usb", "COM3"}, 1, "error: Un123know serial transport: usb!\n" + PARSE_FAILED},
    {"vb27", {"-m", "serial"}, 1, "error: Serial port name missing after mode serial!\n" + PARSE_FAILED},
    {"vb27", {"-packagesize:1000"}, 1,
     "error: Invalid packagesize 1000, valid values are 1024, 2048, 4096, 8192\n" + PARSE_FAILED},
    {"", {"--erase", "-n", "vb27", "-f", "$PKG", "-e", "everything"}, 1,
     "error: Invalid number for option -e: \"everything\"\n" + PARSE_FAILED},
    // 32-bit values: 2g is the largest, 4g does not fit.
    {"vb27", {"-reset", "-reset:0", "-re", "5", "-onlyburn:app", "-burninterval:20", "-erasemode:1", "-onlyeraseall",
              "-switchafterloader", "-beforereset", "-c", "1", "-e", "2g", "-b", "921600", "-s", "2", "-p", "1"}},
    {"vb27", {}, 1, "error: Invalid number for key reset in $DIR/bin/config/burn.config: \"4g\"\n", "",
     MODE + "reset=4g\n", Match::IS},
    // A rate reads like atoi, but one that reads as 0 is refused before the port is opened.
    {"vb27", {"--baudRate", "fast"}, 1, "error: Invalid number for option --baudRate: \"fast\"\n" + PARSE_FAILED},
    {"vb27", {}, 1, "error: Invalid number for key baudRate in $DIR/bin/config/burn.config: \"fast\"\n", "",
     MODE + "baudRate=fast\n", Match::IS},
    {"vb27", {}, 3, JOB, "", MODE + "baudRate=115200abc\n"},
    // The usage text's positional speed, stop bits and parity are stray arguments.
    {"vb27", {"-m", "serial", NO_PORT, "9600", "0", "0", "-x"}},
    // The value of -l spells -n; -n is still examined in its turn.
    {"", {"--burn", "-f", "$PKG", "-l", "-n", "qn4180"}, 3, JOB, "", MODE},
    // The second -n wins, over the configured name too.
    {"", {"--burn", "-n", "nosuchchip", "-f", "$PKG", "-n", "qn4180"}, 3, JOB, "", "chipName=nosuchchip\n" + MODE},
    // A connection chip without a job of its own offers no read (nor erase: tests/jobs/jobs_test.cpp).
    {"", {"--read", "-n", "conn", "-f", "$PKG"}, 7, "chip: conn does not support the read function.\n"},
    // A value option in the last position is ignored.
    {"vb27", {"-n"}}, {"vb27", {"-m"}}, {"vb27", {"-f"}}, {"vb27", {"-b"}}, {"vb27", {"-s"}}, {"vb27", {"-p"}},
    {"vb27", {"-l"}}, {"vb27", {"-e"}}, {"vb27", {"-re"}}, {"vb27", {"-c"}}, {"vb27", {"-elf"}}, {"vb27", {"-txt"}},
    {"vb27", {"--config"}},
    // burn.config.
    {"vb27", {"-m", "serial", NO_PORT}, 1, "error: Open burn.config failed!\n", "", NO_CONFIG, Match::IS},
    {"", {"--burn", "--name", "vb27", "--file", "$PKG", "--mode", "serial", NO_PORT}, 3, JOB, "", ""},
    {"", {"--burn"}, 3, JOB, "", "chipName=typesix\nfilePath=$PKG\n" + MODE},
    {"", {"--burn"}, 1, "error: Burn file not found!\n", "", "chipName=vb27\n" + MODE},
    // A carriage return belongs to the line break, also on a last line without one.
    {"", {"--burn"}, 3, JOB, "", "chipName=vb27\r\nfilePath=$PKG\r\nmode=serial\r\nserialPort=" + NO_PORT + "\r"},
    {"", {"--burn", "-f", "$PKG"}, 1, "error: Chip name not found!\n", "", "chipName =vb27\nChipName=vb27\n" + MODE},
    {"vb27", {}, 3, JOB, "", "# comment\nmode=usb # refused if it were read\n" + MODE},
    {"", {"--burn"}, 1, "error: Open file failed: $DIR/bin/ChipProperties/vb27 .txt\n" + CHIP_FAILED, "",
     "mode= \tserial\t \nserialPort=" + NO_PORT + "\nchipName=vb27 \nfilePath=$PKG\n"},
    {"vb27", {"-m", "serial", NO_PORT}, 1, "error: Unknown transport: usb!\n", "", "mode=usb\n", Match::IS},
    {"vb27", {}, 1, "error: Transport way not found!\n", "", "mode=serial=x\nmode\nserialPort=" + NO_PORT + "\n"},
    {"vb27", {}, 3, JOB, "", MODE + "reset=0x10\nburnCheck=1k\n"},
    {"vb27", {}, 1, "error: Invalid number for key burnCheck in $DIR/bin/config/burn.config: \"on\"\n", "",
     MODE + "burnCheck=on\n", Match::IS},
    {"", {"--burn", "--config", "$DIR/missing.config"}, 1, "error: Open burn.config failed!\n", "", DEFAULT, Match::IS},
    {"", {"--burn", "--config", "$DIR/missing.config", "--config", "$DIR/other.config", "-f", "$PKG"}, 3, JOB, "",
     "mode=usb\n"},
    // Only the exact word true keeps the table's directory; without the key it is kept.
    {"typesix", {}, 1, NO_DIGEST + TABLE_FAILED, TYPESIX_APP, MODE + "xmlPathDefault=TRUE\n"},
    {"typesix", {}, 5, TYPESIX_TABLE_NOT_PACKAGE, TYPESIX_APP, MODE + "xmlPathDefault=true\n"},
    {"typesix", {}, 5, TYPESIX_TABLE_NOT_PACKAGE, TYPESIX_APP},
    // Chip property files.
    {"hex", {}},
    {"decimal", {}},
    {"nosuchchip", {}, 1, "error: Open file failed: $DIR/bin/ChipProperties/nosuchchip.txt\n" + CHIP_FAILED},
    {"blank", {}, 1, "error: ChipType not found in file $DIR/bin/ChipProperties/blank.txt\n" + CHIP_FAILED},
    {"bad", {}, 1, "error: Invalid number for key ChipType in file $DIR/bin/ChipProperties/bad.txt: \"vb27\"\n" +
                       CHIP_FAILED},
    // Department 6: the table is read under the 64 KiB rule, then the department is refused.
    {"wing", {}, 1, "error: Partition app have invalid xml length: 0x18000, must be a multiple of 64k\n" + TABLE_FAILED,
     Table(Row("app", "0x18000"))},
    {"wing", {}, 1, "error: Invalid chiptype :393217\n", Table(Row("app", "0x20000") + Row("data", "128k"))},
    {"vb27", {}, 4, TABLE_NOT_PACKAGE, Table(Row("app", "0x18000"))},
    // A burn file that does not exist is refused before the port is opened (a package: early_checks_test,
    // tests/jobs/jobs_test.cpp); an upper-case .XML is no table.
    {"", {"--burn", "-n", "vb27", "-f", "/absent/TABLE.XML"}, 4, "Get file content failed: /absent/"},
    {"", {"--burn", "-n", "vb27", "-f", "table.xml"}, 1, "error: Invalid file path: table.xml\n" + TABLE_FAILED},
    {"vb27", {}, 1, "error: FirstChildElement failed.\n" + TABLE_FAILED, Table("")},
    {"vb27", {}, 1, "error: Sel value can only be 1 or 0!\n" + TABLE_FAILED, Table(Row("app", "64k", "", "2"))},
    {"vb27", {}, 1, "Partition: app length is 0.\n" + TABLE_FAILED, Table(Row("app", "0"))},
    {"vb27", {}, 1, "error: Partition app has an invalid Length value: \"lots\"\n" + TABLE_FAILED,
     Table(Row("app", "lots"))},
    {"vb27", {}, 1, "error: Partition app has an invalid Length value: \"0xffffffff\"\n",
     Table(Row("app", "0xffffffff"))},
    {"vb27", {}, 1, "error: Partition a has an invalid Start value: \"start\"\n",
     Table(HEAD + "Start=\"start\" Length=\"64k\" SelectFile=\"\"/>")},
    {"vb27", {}, 1, "error: Partition app has an invalid FileSize value: \"\"\n",
     Table(Row("app", "64k", "FileSize=\"\""))},
    {"vb27", {}, 1, "Maybe this is not int XML format, or used by other application.\n" + TABLE_FAILED,
     "<Partitions><Partition"},
    // The first required attribute missing or empty names itself; each name and its message are one
    // table row in the reader, so the first and the last row stand for the rest.
    {"vb27", {}, 1, MISSING + "Sel or Sel value is empty.\n", Table("<P PartitionName=\"\" Sel=\"\"/>")},
    {"vb27", {}, 1, MISSING + "Length or Length value is empty.\n", Table(HEAD + "Start=\"0\" Length=\"\"/>")},
    {"vb27", {}, 1, MISSING + "SelectFile.\n", Table(HEAD + "Start=\"0\" Length=\"1\"/>")},
    {"vb27", {}, 1, MISSING + "DeviceId or DeviceId is empty.\n", Table(Row("app", "64k", "DeviceId=\"\""))},
    {"vb27", {}, 4, TABLE_NOT_PACKAGE, Table(Row("all", "-"))},
    {"vb27", {}, 4, TABLE_NOT_PACKAGE, Table(Row("app", "64k", "", "01"))},
    {"vb27", {}, 4, TABLE_NOT_PACKAGE, Table(Row("app", "64k", "", "no"))},
    {"vb27", {}, 4, TABLE_NOT_PACKAGE, LongTable()},
    // An image that exists nowhere is no error while the table is read.
    {"vb27", {}, 4, TABLE_NOT_PACKAGE, Table(Row("missing", "64k", "FileSize=\"4k\""))},
    // TypeSix: an image row needs a digest row whose name it contains and whose file exists.
    {"typesix", {}, 1, NO_DIGEST, Table(Typed("kern_image", 100) + Typed("kern", 102, "kern.bin"))},
    {"typesix", {}, 1, NO_DIGEST, Table(Typed("app_image", 100) + Typed("kernel", 102, "app.bin"))},
    {"typesix", {}, 1, NO_DIGEST + TABLE_FAILED, Table(Typed("app_image", 100))},
    {"typesix", {}, 1, MISSING + "FileType or FileType value is empty.\n", Table(Row("app"))},
    {"typesix", {}, 1, "error: Partition information is empty!\n",
     Table(Typed("params", 24) + Typed("app", 102, "app.bin"))},
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
// some broken ones, a package under three names, a second config and a table.
class InstallationRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_temp.Ok());
        const std::string built = std::string(TARNWICK_BIN_DIR) + "/tarnwickcmd";
        ASSERT_TRUE(std::filesystem::exists(built)) << "build the tarnwickcmd target first: " << built;
        std::filesystem::create_directories(m_dir + "bin");
        std::filesystem::copy_file(built, m_dir + "bin/tarnwickcmd");
        const std::pair<const char*, const char*> chips[] = {
            {"vb27", "ChipType=0x30004\n"}, {"qn4180", "ChipType=0x30005\n"}, {"typesix", "ChipType=0x30002\n"},
            {"wing", "ChipType=0x60001\n"}, {"conn", "ChipType=0x30001\n"}, {"hex", "ChipType=0x30004"},
            {"decimal", "ChipType=196612\nResetAtCommand=AT+RESET\n"}, {"blank", "ChipType =0x30004\n"},
            {"bad", "ChipType=vb27\n"}};
        for (const auto& chip : chips) {
            Write(std::string("bin/ChipProperties/") + chip.first + ".txt", chip.second);
        }
        // A package the jobs accept, so every run reaches the port.
        const TestSupport::Bytes package =
            TestSupport::BuildPackage({{"loader.bin", 0, 0, 0, TestSupport::Pattern(64, 1)}});
        m_package = Write("images/app.fwpkg", std::string(package.begin(), package.end()));
        std::filesystem::create_symlink(m_package, m_dir + "link.fwpkg");
        std::filesystem::create_hard_link(m_package, m_dir + "hard.fwpkg");
        Write("other.config", "chipName=qn4180\n" + MODE);
        Write("path/table.xml", Table(Row("app")));
        Write("tables/app.bin", "digest");
        // Every run goes through a symlink from another directory; the plain path: tests/e2e/install_test.cpp.
        std::filesystem::create_symlink(m_dir + "bin/tarnwickcmd", m_tool);
    }

    std::string Write(const std::string& relative, const std::string& bytes)
    {
        TestSupport::WriteText(m_dir + relative, bytes);
        return m_dir + relative;
    }

    // A settings run waits for nothing: the limit only keeps a broken build from hanging the suite.
    RunResult Run(const std::vector<std::string>& arguments)
    {
        return TestSupport::RunProgram(m_tool, arguments, 60000, {false, m_dir + "path"});
    }

    TestSupport::TempDir m_temp{"tarnwick-cli"};
    std::string m_dir = m_temp.Path() + "/";
    std::string m_tool = m_dir + "path/tarnwickcmd";
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
        SCOPED_TRACE("case " + std::to_string(i) + ": " + testing::PrintToString(arguments));
        EXPECT_TRUE(matched) << "wants: " << expected << "\nprinted: " << run.output;
        EXPECT_EQ(run.exitCode, c.exitCode) << "printed: " << run.output;
    }
}

TEST_F(InstallationRun, UsageWithOneForNoArgumentsAndZeroForHelpAndUnacceptedFirstArgumentsAndPortsListsPorts)
{
    const RunResult usage = Run({});
    EXPECT_EQ(usage.exitCode, 1);
    EXPECT_EQ(usage.output.rfind(USAGE_FIRST_LINE, 0), 0u) << usage.output;
    const RunResult listed = Run({"--ports"});
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_FALSE(Contains(listed.output, USAGE_FIRST_LINE)) << listed.output;
    for (const char* first : {"--help", "--version", "-h", "-help", "-b", "-e", "-r", "burn", "--config"}) {
        const RunResult run = Run({first});
        EXPECT_EQ(run.exitCode, 0) << first;
        EXPECT_EQ(run.output, usage.output) << first;
    }
}

} // namespace
