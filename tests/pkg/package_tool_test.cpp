// tarnwick-pkg against packages from two sides: its own pack, and an
// independent Python writer built from the layout tables. Each command is
// judged by its exit code, what it printed and the files it left.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "jobs/fwpkg.h"
#include "jobs/typesix_burner_worker.h"
#include "support/child_process.h"
#include "support/fwpkg_builder.h"
#include "pkg/package_command_line.h"
#include "pkg/package_tool.h"
#include "support/test_files.h"

using namespace PackageToolSp;
using namespace TestSupport;
using Strings = std::vector<std::string>;

namespace {

constexpr int SCRIPT_LIMIT_MS = 60000;

class PackageToolTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_temp.Ok()); }

    std::string Write(const std::string& name, const Bytes& bytes) const
    {
        EXPECT_TRUE(WriteFile(m_dir + name, bytes)) << name;
        return m_dir + name;
    }

    // Runs the tool's command line in-process; the output of the job's own
    // package code (printed to standard output) is included.
    int Run(const Strings& arguments)
    {
        std::ostringstream out;
        ::testing::internal::CaptureStdout();
        const int code = RunPackageTool(arguments, out, out);
        m_output = ::testing::internal::GetCapturedStdout() + out.str();
        return code;
    }

    // The independent writer: options, then entries of NAME TYPE ADDRESS SIZE FILE [OFFSET [LENGTH]].
    void MakeWithScript(const std::string& package, const Strings& options, const std::vector<Strings>& entries)
    {
        Strings arguments{"python3", std::string(TARNWICK_SOURCE_DIR) + "/tests/pkg/make_package.py", package};
        arguments.insert(arguments.end(), options.begin(), options.end());
        for (const Strings& entry : entries) {
            arguments.push_back("--entry");
            arguments.insert(arguments.end(), entry.begin(), entry.end());
        }
        const RunResult script = RunProgram("/usr/bin/env", arguments, SCRIPT_LIMIT_MS);
        ASSERT_EQ(script.exitCode, 0) << script.output;
    }

    TempDir m_temp{"tarnwick-pkg"};
    std::string m_dir = m_temp.Path() + "/";
    std::string m_a = Write("a.bin", Pattern(1000, 7));
    std::string m_b = Write("b.bin", Pattern(2500, 8));
    std::string m_output;
};

// --- pack, and what info and verify make of it ------------------------------------------

TEST_F(PackageToolTest, PackWritesTheIndependentWritersBytesAndInfoAndVerifyReadThemBack)
{
    const std::string app = Write("a:b.bin", Pattern(70000, 2));  // a colon in the file name; more than one copy chunk
    const std::string name32(32, 'n');                            // fills the normal name field
    const struct {
        const char* layout;
        Strings scriptOptions;
        const char* family;
        const char* flagLine;
        uint32_t table;
        Strings meanings;
        const char* refusedBy;
    } cases[] = {
        {"normal", {}, "vb27", "normal (flag 0xEFBEADDF)", 12 + 3 * 52, {"  loader  ", "  flash image  ", "  NV/KV  "}, ""},
        {"new", {"--new", "--flag", "0xEFBEADD0"}, "typesix", "new (flag 0xEFBEADD0)", 272 + 3 * 280,
         {"  loader (ssb through the boot ROM)  ", "  not burned  "}, "vb27 qn4180"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.layout);
        const std::string ours = m_dir + "ours.fwpkg", theirs = m_dir + "theirs.fwpkg";
        ASSERT_EQ(Run({"pack", ours, "--layout", c.layout, "--entry", "loader.bin:0:0:0:" + m_a, "--entry",
                       "app.bin:1:0x10000:0x20000:" + app, "--entry", name32 + ":2:0xFFFFFFFF:4k:" + m_b}),
                  EXIT_OK) << m_output;
        EXPECT_FALSE(std::filesystem::exists(ours + ".tmp"));
        MakeWithScript(theirs, c.scriptOptions,
                       {{"loader.bin", "0", "0", "0", m_a}, {"app.bin", "1", "0x10000", "0x20000", app},
                        {name32, "2", "4294967295", "4096", m_b}});
        EXPECT_EQ(ReadFile(ours), ReadFile(theirs));

        ASSERT_EQ(Run({"info", ours, "--family", c.family}), EXIT_OK) << m_output;
        char rows[2][96];
        std::snprintf(rows[0], sizeof(rows[0]), "0x%08X       70000  0x00010000  0x00020000", c.table + 1000);
        std::snprintf(rows[1], sizeof(rows[1]), "0x%08X        2500  0xFFFFFFFF  0x00001000", c.table + 71000);
        Strings shown = c.meanings;
        shown.insert(shown.end(), {c.flagLine, "count    3", ", matches", rows[0], rows[1]});
        ExpectHolds(m_output, shown);
        EXPECT_FALSE(Contains(m_output, "warning")) << m_output;

        for (const char* family : {"vb27", "qn4180", "typesix"}) {
            const bool refused = Contains(c.refusedBy, family);
            EXPECT_EQ(Run({"verify", ours, "--family", family}), refused ? EXIT_REFUSED : EXIT_OK) << m_output;
            EXPECT_EQ(Contains(m_output, "is not equal to 0xefbeaddf"), refused) << m_output;
        }
    }
}

TEST_F(PackageToolTest, WhatNoReaderWouldTakeWritesNoPackage)
{
    const std::string package = m_dir + "fw.fwpkg";
    std::vector<Strings> refused = {
        {"../up:0:0:0:" + m_a}, {"a/b:0:0:0:" + m_a}, {"a\\b:0:0:0:" + m_a}, {":0:0:0:" + m_a},
        {std::string(33, 'n') + ":0:0:0:" + m_a},  // longer than the normal name field
        {"x:0:0:0:" + m_a, "x:1:0:0:" + m_a},      // the same name twice
        {"app.bin:0:0:0:" + m_a, "app_sha256.bin:1:0:0:" + m_a},  // one unpacks onto the other's digest
        {"x:0:0:0:" + m_dir + "missing.bin"}, {"x:0:0:0:" + m_dir}, {}};
    for (int i = 0; i < 256; ++i) {  // more entries than the chips take
        refused.back().push_back("i" + std::to_string(i) + ":1:0:0:" + m_a);
    }
    for (const Strings& entries : refused) {
        Strings arguments = {"pack", package};
        for (const std::string& e : entries) {
            arguments.insert(arguments.end(), {"--entry", e});
        }
        EXPECT_EQ(Run(arguments), EXIT_REFUSED) << entries[0] << " (" << entries.size() << ")\n" << m_output;
        EXPECT_FALSE(std::filesystem::exists(package)) << entries[0];
        EXPECT_FALSE(std::filesystem::exists(package + ".tmp")) << entries[0];
        if (entries.size() == 256) {  // one fewer is taken
            arguments.resize(arguments.size() - 2);
            EXPECT_EQ(Run(arguments), EXIT_OK) << m_output;
            EXPECT_EQ(Run({"verify", package, "--family", "typesix"}), EXIT_OK) << m_output;
        }
    }
    EXPECT_EQ(Run({"pack", package, "--layout", "new", "--entry", std::string(260, 'n') + ":0:0:0:" + m_a}), EXIT_OK)
        << m_output;
}

// --- info and verify on packages from the independent writer ----------------------------

TEST_F(PackageToolTest, InfoWarnsOfEveryBrokenPartAndVerifyRefusesIt)
{
    const std::string notPackage = Write("text.fwpkg", Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'});
    const std::string tiny = Write("tiny.fwpkg", Bytes{0xDF, 0xAD, 0xBE});
    const struct {
        const char* what;
        std::string file;  // a written file, or "" to have the script write one
        Strings options;
        std::vector<Strings> entries;
        size_t cutTo;
        int info, verify;
        Strings mentions, absent;
        size_t pastEnd, overlaps;
    } cases[] = {
        {"corrupted CRC", "", {"--bad-crc"}, {{"ssb.bin", "0", "0", "0", m_a}, {"app.bin", "20", "0", "0", m_b}}, 0,
         EXIT_OK, EXIT_REFUSED, {"MISMATCH", "warning: header CRC mismatch", "app.bin",
                                 "refused (every reader): header CRC mismatch"}, {}, 0, 0},
        // Table 220 bytes, then images of 1000, 2500, 1000 and 1000 bytes: the
        // file has 5720. The last one wraps to 0x1FE in 32 bits: that must not hide it.
        {"past the end", "", {},
         {{"fits", "1", "0", "0", m_a}, {"ends_at_end", "1", "0", "0", m_b, "3220", "2500"},
          {"one_past", "1", "0", "0", m_a, "3220", "2501"}, {"far_past", "1", "0", "0", m_a, "0xFFFFFFFF", "0xFFFFFFFF"}},
         0, EXIT_OK, EXIT_REFUSED,
         {"entry 2 \"one_past\" (offset 3220, length 2501) reaches past the end of the file (5720 bytes)",
          "entry 3 \"far_past\" (offset 4294967295, length 4294967295) reaches past",
          "refused (every reader): entry 2 \"one_past\""}, {}, 2, 1},
        // Table 272 bytes; the real images lie at 272 and 1272 and only touch.
        {"overlaps", "", {},
         {{"first", "1", "0", "0", m_a}, {"second", "1", "0", "0", m_b}, {"inside", "1", "0", "0", m_a, "1500", "100"},
          {"empty", "1", "0", "0", m_a, "1500", "0"}, {"in_table", "1", "0", "0", m_a, "100", "100"}},
         0, EXIT_OK, EXIT_OK,
         {"warning: entry 2 \"inside\" overlaps entry 1 \"second\" (bytes 1500 to 1599)",
          "warning: entry 4 \"in_table\" (offset 100) overlaps the header and entry table (272 bytes)"},
         {"\"empty\" overlaps", "\"second\" overlaps entry 0"}, 0, 2},
        {"three on the same bytes", "", {},
         {{"x", "1", "0", "0", m_a, "200", "50"}, {"y", "1", "0", "0", m_a, "200", "50"},
          {"z", "1", "0", "0", m_a, "200", "50"}},
         0, EXIT_OK, EXIT_OK, {"entry 1 \"y\" overlaps entry 0 \"x\"", "entry 2 \"z\" overlaps entry 0 \"x\""}, {},
         0, 2},
        {"control bytes in a name", "", {}, {{"a\x1b[2Jb", "1", "0", "0", m_a}}, 0, EXIT_OK, EXIT_OK, {"a\\x1B[2Jb"},
         {"\x1b"}, 0, 0},
        {"a table past the end", "", {}, {{"a", "0", "0", "0", m_a}}, 40, EXIT_REFUSED, EXIT_REFUSED,
         {"entry table of 1 entries (64 bytes) reaches past the end of the file (40 bytes)"}, {}, 1, 0},
        {"no package", notPackage, {}, {}, 0, EXIT_REFUSED, EXIT_REFUSED, {"is not a fwpkg flag"}, {}, 0, 0},
        {"shorter than a header", tiny, {}, {}, 0, EXIT_REFUSED, EXIT_REFUSED, {"fewer than a package header"}, {}, 0, 0},
        {"no file", m_dir + "missing.fwpkg", {}, {}, 0, EXIT_REFUSED, EXIT_REFUSED, {}, {}, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string package = c.file;
        if (package.empty()) {
            package = m_dir + "script.fwpkg";
            MakeWithScript(package, c.options, c.entries);
            if (c.cutTo != 0) {
                Bytes bytes = ReadFile(package);
                bytes.resize(c.cutTo);
                Write("script.fwpkg", bytes);
            }
        }
        EXPECT_EQ(Run({"info", package}), c.info) << m_output;
        std::string output = m_output;
        EXPECT_EQ(CountOf(output, "reaches past the end"), c.pastEnd) << output;
        EXPECT_EQ(CountOf(output, "overlaps"), c.overlaps) << output;
        EXPECT_EQ(Run({"verify", package}), c.verify) << m_output;
        output += m_output;
        ExpectHolds(output, c.mentions);
        for (const std::string& text : c.absent) {
            EXPECT_FALSE(Contains(output, text)) << text << "\n" << output;
        }
        if (c.verify == EXIT_REFUSED && !c.entries.empty()) {
            EXPECT_EQ(Run({"verify", package, "--family", "typesix"}), EXIT_REFUSED) << m_output;
            EXPECT_EQ(Run({"verify", package, "--family", "vb27"}), EXIT_REFUSED) << m_output;
        }
    }
}

// --- extract --------------------------------------------------------------------------

TEST_F(PackageToolTest, ExtractUnpacksPlainNamesWithDigestsAndRefusesAnyOtherBeforeWriting)
{
    const struct {
        std::string first, second;
        int extract, verify;
        const char* message;
    } cases[] = {
        {"ssb.bin", "app", EXIT_OK, EXIT_OK, "2 images extracted"},
        // Pack's refusals hold the other spellings; this one check serves both.
        {"good.bin", "../evil", EXIT_REFUSED, EXIT_REFUSED, "is not a plain file name"},
        {"good.bin", "..", EXIT_REFUSED, EXIT_REFUSED, "is not a plain file name"},
        // The job itself lists it, so verify takes it with a warning.
        {"app.bin", "app_sha256.bin", EXIT_REFUSED, EXIT_OK, "both unpack to \"app_sha256.bin\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.second);
        const std::string package = m_dir + "fw.fwpkg", out = m_dir + "deep/er/out";
        MakeWithScript(package, {}, {{c.first, "0", "0", "0", m_a}, {c.second, "18", "0", "0", m_b}});
        EXPECT_EQ(Run({"extract", package, out}), c.extract) << m_output;
        EXPECT_TRUE(Contains(m_output, c.message)) << m_output;
        if (c.extract == EXIT_OK) {
            for (const auto& [name, file] : {std::make_pair(c.first, m_a), std::make_pair(c.second, m_b)}) {
                const Bytes expected = ReadFile(file);
                EXPECT_EQ(ReadFile(out + "/" + name), expected) << name;
                EXPECT_EQ(ReadFile(FwpkgSp::GetSha256FilePath(out + "/" + name)), Sha256(expected)) << name;
            }
            EXPECT_TRUE(std::filesystem::exists(out + "/ssb_sha256.bin"));
            EXPECT_TRUE(std::filesystem::exists(out + "/app_sha256"));
        } else {
            EXPECT_FALSE(std::filesystem::exists(m_dir + "deep"));
            EXPECT_FALSE(std::filesystem::exists(m_dir + "evil"));
        }
        EXPECT_EQ(Run({"verify", package, "--family", "typesix"}), c.verify) << m_output;
        EXPECT_EQ(Contains(m_output, "warning:"), c.verify == EXIT_OK && c.extract != EXIT_OK) << m_output;
        std::filesystem::remove_all(m_dir + "deep");
    }
}

// --- verify says what the TypeSix job says ------------------------------------------------

// The job lists and checks the package as it does before the reset prompt;
// verify --family typesix must come to the same answer for every package.
TEST_F(PackageToolTest, VerifyRefusesExactlyWhatTheTypeSixJobRefuses)
{
    const uint32_t longest = 65535u * 4096u;  // as many packets as can be numbered
    const Bytes a = Pattern(600, 1), b = Pattern(700, 2);
    const struct {
        const char* name;
        std::vector<PackageImage> images;
        uint32_t loaderLength;  // a sparse loader of this length; 0 for none
        bool accepted;
        const char* message;
    } cases[] = {
        {"two different images of one name",
         {{"ssb.bin", 0, 0, 0, a}, {"app.bin", 100, 0x1000, 0x1000, a}, {"app.bin", 100, 0x2000, 0x1000, b}}, 0,
         false, "Two different images of"},
        {"the loader at its longest", {{"ssb.bin", 0, 0, 0, {}}}, longest, true, ""},
        {"a loader one byte longer", {{"ssb.bin", 0, 0, 0, {}}}, longest + 1, false,
         "error: Loader ssb.bin of 268431361 bytes needs more than 65535 packets of 4096 bytes.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = BuildPackage(c.images);
        if (c.loaderLength != 0) {
            PutLe(bytes, FieldAt(false, 0, FIELD_LENGTH), c.loaderLength, 4);
            SealPackage(bytes);
        }
        const std::string package = Write("fw.fwpkg", bytes);
        if (c.loaderLength != 0) {
            std::filesystem::resize_file(package, bytes.size() + c.loaderLength);
        }
        auto context = std::make_unique<BurnInfo::BurnContext>();
        context->SetChipType(0x30002);
        context->SetFilePath(package);
        TypeSixBurnerWorker job(std::move(context));
        ::testing::internal::CaptureStdout();
        const bool listed = job.ListPackage();
        const std::string jobOutput = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(listed, c.accepted) << jobOutput;
        EXPECT_EQ(Run({"verify", package, "--family", "typesix"}), c.accepted ? EXIT_OK : EXIT_REFUSED) << m_output;
        EXPECT_TRUE(Contains(jobOutput, c.message)) << jobOutput;
        EXPECT_TRUE(Contains(m_output, c.message)) << m_output;
    }
}

// --- the command line ------------------------------------------------------------------

TEST(PackageCommandLine, WrongCommandLinesExitWithTwoAndNameTheProblemOnErrorOutput)
{
    const std::vector<Strings> wrong = {
        {}, {"frobnicate"}, {"info"}, {"info", "a", "b"}, {"info", "a", "--family"}, {"info", "a", "--family", "vb28"},
        {"info", "a", "--layout", "new"}, {"extract", "a"}, {"extract", "a", "b", "--family", "vb27"},
        {"pack", "o"}, {"pack", "o", "--entry", "a:0:0:0"}, {"pack", "o", "--entry", "a:zero:0:0:f"},
        {"pack", "o", "--entry", "a:0:0x100000000:0:f"}, {"pack", "o", "--entry", "a:0:4294967296:0:f"},
        {"pack", "o", "--entry", "a:0:0:4g:f"}, {"pack", "o", "--entry", "a:0:0:12kb:f"},
        {"pack", "o", "--entry", "a:0:0:-1:f"}, {"pack", "o", "--entry", "a:0:0:0:"},
        {"pack", "o", "--layout", "old", "--entry", "a:0:0:0:f"}, {"verify", "a", "--quick"},
    };
    for (const Strings& arguments : wrong) {
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(RunPackageTool(arguments, out, err), EXIT_USAGE) << testing::PrintToString(arguments);
        EXPECT_EQ(out.str(), "") << testing::PrintToString(arguments);
        EXPECT_EQ(err.str().rfind("tarnwick-pkg: ", 0), 0u) << err.str();
        EXPECT_NE(err.str().find(" --help' for more information.\n"), std::string::npos) << err.str();
    }
}

TEST(PackageCommandLine, HelpAndVersionAnswerWithZeroAtEveryLevel)
{
    const std::vector<std::pair<Strings, std::string>> asked = {
        {{"-h"}, "extract"}, {{"--help"}, "verify"}, {{"pack", "--help"}, "--entry"}, {{"info", "-h"}, "--family"},
        {{"-v"}, "tarnwick-pkg 1."}, {{"-V"}, "tarnwick-pkg 1."}, {{"--version"}, "tarnwick-pkg 1."}};
    for (const auto& [arguments, shown] : asked) {
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(RunPackageTool(arguments, out, err), EXIT_OK) << testing::PrintToString(arguments);
        EXPECT_NE(out.str().find(shown), std::string::npos) << out.str();
        EXPECT_EQ(err.str(), "");
    }
}

}  // namespace
