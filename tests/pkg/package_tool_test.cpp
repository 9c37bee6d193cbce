// tarnwick-pkg against packages from two sides: its own pack, and an
// independent Python writer built from the layout tables. Each command is
// judged by its exit code, what it printed and the files it left.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "common/sha256_util.h"
#include "jobs/fwpkg.h"
#include "pkg/package_command_line.h"
#include "pkg/package_tool.h"

using namespace PackageToolSp;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Pattern(size_t length, uint32_t seed)
{
    Bytes bytes(length);
    uint32_t x = seed * 2654435761u + 1;
    for (uint8_t& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

size_t CountOf(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class PackageToolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = ::testing::TempDir() + "pkgtool_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string Write(const std::string& name, const Bytes& bytes) const
    {
        const std::string path = m_dir + name;
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    static Bytes Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Runs the tool's command line in-process; the output of the job's own
    // package code (printed to standard output) is included.
    int Run(const std::vector<std::string>& arguments)
    {
        std::ostringstream out;
        ::testing::internal::CaptureStdout();
        const int code = RunPackageTool(arguments, out);
        m_output = ::testing::internal::GetCapturedStdout() + out.str();
        return code;
    }

    // The independent writer; arguments after the output path.
    void MakeWithScript(const std::string& package, const std::vector<std::string>& arguments)
    {
        std::string command = "python3 '" + std::string(TARNWICK_SOURCE_DIR) + "/tests/pkg/make_package.py' '" +
                              package + "'";
        for (const std::string& a : arguments) {
            command += " '" + a + "'";
        }
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
    }

    std::vector<std::string> ScriptEntry(const std::string& name, uint32_t type, uint32_t address, uint32_t size,
                                         const std::string& file)
    {
        return {"--entry", name, std::to_string(type), std::to_string(address), std::to_string(size), file};
    }

    std::string m_dir;
    std::string m_output;
};

// --- pack, then read back -----------------------------------------------------------

class PackRoundTrip : public PackageToolTest {
protected:
    void SetUp() override
    {
        PackageToolTest::SetUp();
        m_loader = Pattern(3001, 1);
        m_app = Pattern(70000, 2);  // more than one copy chunk
        m_nv = Pattern(1, 3);
        Write("loader.bin", m_loader);
        Write("app.bin", m_app);
        Write("nv.bin", m_nv);
    }
    std::vector<std::string> PackArguments(const std::string& out) const
    {
        return {"pack", out, "--entry", "loader.bin:0:0:0:" + m_dir + "loader.bin", "--entry",
                "app.bin:1:0x10000:0x20000:" + m_dir + "app.bin", "--entry",
                "nv.bin:2:0xFFFFF000:4k:" + m_dir + "nv.bin"};
    }
    Bytes m_loader, m_app, m_nv;
};

TEST_F(PackRoundTrip, TheJobListsWhatWasPackedAndTheImagesLieWhereTheTableSays)
{
    const std::string package = m_dir + "fw.fwpkg";
    ASSERT_EQ(Run(PackArguments(package)), EXIT_OK) << m_output;

    std::vector<BurnInfo::FwpkgBinInfo> list;
    ASSERT_TRUE(FwpkgSp::ParseFwpkgFile(package, list));
    ASSERT_EQ(list.size(), 3u);
    const Bytes bytes = Read(package);
    const Bytes* images[] = {&m_loader, &m_app, &m_nv};
    const uint32_t types[] = {0, 1, 2};
    const uint32_t addresses[] = {0, 0x10000, 0xFFFFF000};
    const uint32_t sizes[] = {0, 0x20000, 4096};
    uint32_t offset = 12 + 3 * 52;
    for (size_t i = 0; i < list.size(); ++i) {
        SCOPED_TRACE(list[i].imageName);
        EXPECT_EQ(list[i].offset, offset);
        EXPECT_EQ(list[i].length, images[i]->size());
        EXPECT_EQ(list[i].imageType, types[i]);
        EXPECT_EQ(list[i].burnAddress, addresses[i]);
        EXPECT_EQ(list[i].burnSize, sizes[i]);
        ASSERT_LE(offset + images[i]->size(), bytes.size());
        EXPECT_TRUE(std::equal(images[i]->begin(), images[i]->end(), bytes.begin() + offset));
        offset += static_cast<uint32_t>(images[i]->size());
    }
    EXPECT_EQ(bytes.size(), offset);
    EXPECT_FALSE(std::filesystem::exists(package + ".tmp"));
}

TEST_F(PackRoundTrip, InfoShowsEveryRowAndNoWarning)
{
    const std::string package = m_dir + "fw.fwpkg";
    ASSERT_EQ(Run(PackArguments(package)), EXIT_OK) << m_output;
    ASSERT_EQ(Run({"info", package, "--family", "vb27"}), EXIT_OK) << m_output;
    EXPECT_TRUE(Has(m_output, "normal (flag 0xEFBEADDF)")) << m_output;
    EXPECT_TRUE(Has(m_output, "count    3")) << m_output;
    EXPECT_TRUE(Has(m_output, ", matches")) << m_output;
    EXPECT_TRUE(Has(m_output, "loader.bin      0  loader")) << m_output;
    EXPECT_TRUE(Has(m_output, "app.bin         1  flash image")) << m_output;
    EXPECT_TRUE(Has(m_output, "0x00010000  0x00020000")) << m_output;
    EXPECT_TRUE(Has(m_output, "NV/KV")) << m_output;
    EXPECT_TRUE(Has(m_output, "0xFFFFF000  0x00001000")) << m_output;
    EXPECT_FALSE(Has(m_output, "warning")) << m_output;
}

TEST_F(PackRoundTrip, EveryReaderAcceptsANormalPackageWithTheLoaderFirst)
{
    const std::string package = m_dir + "fw.fwpkg";
    ASSERT_EQ(Run(PackArguments(package)), EXIT_OK) << m_output;
    for (const char* family : {"vb27", "qn4180", "typesix"}) {
        EXPECT_EQ(Run({"verify", package, "--family", family}), EXIT_OK) << family << ": " << m_output;
    }
    EXPECT_EQ(Run({"verify", package}), EXIT_OK) << m_output;
}

TEST_F(PackRoundTrip, NewLayoutIsListedByTheTypeSixJobButRefusedByTheVb27Chip)
{
    const std::string package = m_dir + "fw.fwpkg";
    std::vector<std::string> arguments = PackArguments(package);
    arguments.insert(arguments.end(), {"--layout", "new"});
    ASSERT_EQ(Run(arguments), EXIT_OK) << m_output;

    std::vector<BurnInfo::FwpkgBinInfo> list;
    ASSERT_TRUE(FwpkgSp::ParseFwpkgFile(package, list));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].offset, 272u + 3 * 280);
    EXPECT_EQ(Run({"verify", package, "--family", "typesix"}), EXIT_OK) << m_output;
    EXPECT_EQ(Run({"verify", package, "--family", "vb27"}), EXIT_REFUSED) << m_output;
    EXPECT_TRUE(Has(m_output, "is not equal to 0xefbeaddf")) << m_output;
}

TEST_F(PackRoundTrip, LoaderNotFirstIsRefusedByTheVb27ChipOnly)
{
    const std::string package = m_dir + "fw.fwpkg";
    ASSERT_EQ(Run({"pack", package, "--entry", "app.bin:1:0:0:" + m_dir + "app.bin", "--entry",
                   "loader.bin:0:0:0:" + m_dir + "loader.bin"}),
              EXIT_OK)
        << m_output;
    EXPECT_EQ(Run({"verify", package, "--family", "vb27"}), EXIT_REFUSED);
    EXPECT_TRUE(Has(m_output, "refused (vb27): The first file is not a loader.")) << m_output;
    EXPECT_EQ(Run({"verify", package, "--family", "typesix"}), EXIT_OK) << m_output;
}

TEST_F(PackRoundTrip, NamesThatFillTheFieldFitAndLongerOnesAreRefused)
{
    const std::string package = m_dir + "fw.fwpkg";
    const std::string name32(32, 'n');
    ASSERT_EQ(Run({"pack", package, "--entry", name32 + ":0:0:0:" + m_dir + "loader.bin"}), EXIT_OK) << m_output;
    std::vector<BurnInfo::FwpkgBinInfo> list;
    ASSERT_TRUE(FwpkgSp::ParseFwpkgFile(package, list));
    EXPECT_EQ(list.at(0).imageName, name32);

    EXPECT_EQ(Run({"pack", package + "2", "--entry", name32 + "x:0:0:0:" + m_dir + "loader.bin"}), EXIT_REFUSED);
    EXPECT_TRUE(Has(m_output, "longer than 32 bytes")) << m_output;
    const std::string name260(260, 'n');
    EXPECT_EQ(Run({"pack", package + "3", "--layout", "new", "--entry", name260 + ":0:0:0:" + m_dir + "loader.bin"}),
              EXIT_OK)
        << m_output;
    EXPECT_FALSE(std::filesystem::exists(package + "2"));
}

TEST_F(PackRoundTrip, UnsafeRepeatedOrMissingImagesWriteNoPackage)
{
    const std::string package = m_dir + "fw.fwpkg";
    const std::string loader = m_dir + "loader.bin";
    const std::vector<std::vector<std::string>> refused = {
        {"--entry", "../up:0:0:0:" + loader},
        {"--entry", "a/b:0:0:0:" + loader},
        {"--entry", "a\\b:0:0:0:" + loader},
        {"--entry", ":0:0:0:" + loader},
        {"--entry", "x:0:0:0:" + loader, "--entry", "x:1:0:0:" + loader},
        {"--entry", "app.bin:0:0:0:" + loader, "--entry", "app_sha256.bin:1:0:0:" + loader},
        {"--entry", "x:0:0:0:" + m_dir + "missing.bin"},
        {"--entry", "x:0:0:0:" + m_dir},
    };
    for (const auto& entries : refused) {
        std::vector<std::string> arguments = {"pack", package};
        arguments.insert(arguments.end(), entries.begin(), entries.end());
        EXPECT_EQ(Run(arguments), EXIT_REFUSED) << entries[1] << "\n" << m_output;
        EXPECT_FALSE(std::filesystem::exists(package)) << entries[1];
        EXPECT_FALSE(std::filesystem::exists(package + ".tmp")) << entries[1];
    }
}

TEST_F(PackRoundTrip, TwoHundredFiftySixEntriesAreRefusedAsTheChipsWouldRefuseThem)
{
    std::vector<std::string> arguments = {"pack", m_dir + "fw.fwpkg"};
    for (int i = 0; i < 256; ++i) {
        arguments.push_back("--entry");
        arguments.push_back("i" + std::to_string(i) + ":1:0:0:" + m_dir + "nv.bin");
    }
    EXPECT_EQ(Run(arguments), EXIT_REFUSED);
    arguments.resize(arguments.size() - 2);
    EXPECT_EQ(Run(arguments), EXIT_OK) << m_output;
    EXPECT_EQ(Run({"verify", m_dir + "fw.fwpkg", "--family", "typesix"}), EXIT_OK) << m_output;
}

// --- packages from the independent writer --------------------------------------------

class ScriptPackage : public PackageToolTest {
protected:
    void SetUp() override
    {
        PackageToolTest::SetUp();
        m_a = Write("a.bin", Pattern(1000, 7));
        m_b = Write("b.bin", Pattern(2500, 8));
    }
    std::string m_a, m_b;
};

TEST_F(ScriptPackage, InfoListsTheEntriesOfBothLayouts)
{
    for (bool isNew : {false, true}) {
        SCOPED_TRACE(isNew ? "new" : "normal");
        const std::string package = m_dir + (isNew ? "n.fwpkg" : "o.fwpkg");
        std::vector<std::string> arguments = isNew ? std::vector<std::string>{"--new"} : std::vector<std::string>{};
        for (const auto& e : {ScriptEntry("ssb.bin", 0, 0, 0, m_a), ScriptEntry("rootfs.img", 18, 0x200000, 0x80000, m_b)}) {
            arguments.insert(arguments.end(), e.begin(), e.end());
        }
        MakeWithScript(package, arguments);
        ASSERT_EQ(Run({"info", package, "--family", "typesix"}), EXIT_OK) << m_output;
        const uint32_t table = isNew ? 272 + 2 * 280 : 12 + 2 * 52;
        EXPECT_TRUE(Has(m_output, isNew ? "new (flag 0xEFBEADD1)" : "normal (flag 0xEFBEADDF)")) << m_output;
        EXPECT_TRUE(Has(m_output, ", matches")) << m_output;
        EXPECT_TRUE(Has(m_output, "ssb.bin         0  loader (ssb through the boot ROM)")) << m_output;
        EXPECT_TRUE(Has(m_output, "rootfs.img     18  image, file type 2")) << m_output;
        char row[96];
        std::snprintf(row, sizeof(row), "0x%08X        2500  0x00200000  0x00080000", table + 1000);
        EXPECT_TRUE(Has(m_output, row)) << m_output;
        EXPECT_FALSE(Has(m_output, "warning")) << m_output;
        EXPECT_EQ(Run({"verify", package}), EXIT_OK) << m_output;
    }
}

TEST_F(ScriptPackage, PackWritesTheSameBytesAsTheIndependentWriter)
{
    const std::string theirs = m_dir + "theirs.fwpkg";
    const std::string ours = m_dir + "ours.fwpkg";
    std::vector<std::string> arguments = {"--flag", "0xEFBEADD0", "--new"};
    for (const auto& e : {ScriptEntry("ssb.bin", 0, 0, 0, m_a), ScriptEntry("app", 100, 0x8000, 0x10000, m_b)}) {
        arguments.insert(arguments.end(), e.begin(), e.end());
    }
    MakeWithScript(theirs, arguments);
    ASSERT_EQ(Run({"pack", ours, "--layout", "new", "--entry", "ssb.bin:0:0:0:" + m_a, "--entry",
                   "app:100:0x8000:0x10000:" + m_b}),
              EXIT_OK)
        << m_output;
    EXPECT_EQ(Read(ours), Read(theirs));

    MakeWithScript(theirs, ScriptEntry("x", 4, 1, 2, m_a));
    ASSERT_EQ(Run({"pack", ours, "--entry", "x:4:1:2:" + m_a}), EXIT_OK) << m_output;
    EXPECT_EQ(Read(ours), Read(theirs));
}

TEST_F(ScriptPackage, ACorruptedCrcIsFlaggedAndRefused)
{
    const std::string package = m_dir + "bad.fwpkg";
    std::vector<std::string> arguments = {"--bad-crc"};
    for (const auto& e : {ScriptEntry("ssb.bin", 0, 0, 0, m_a), ScriptEntry("app.bin", 20, 0, 0, m_b)}) {
        arguments.insert(arguments.end(), e.begin(), e.end());
    }
    MakeWithScript(package, arguments);
    ASSERT_EQ(Run({"info", package}), EXIT_OK) << m_output;
    EXPECT_TRUE(Has(m_output, "MISMATCH")) << m_output;
    EXPECT_TRUE(Has(m_output, "warning: header CRC mismatch")) << m_output;
    EXPECT_TRUE(Has(m_output, "app.bin")) << m_output;  // the rows are still shown
    for (const char* family : {"vb27", "typesix"}) {
        EXPECT_EQ(Run({"verify", package, "--family", family}), EXIT_REFUSED) << family;
    }
    EXPECT_EQ(Run({"verify", package}), EXIT_REFUSED);
    EXPECT_TRUE(Has(m_output, "refused (every reader): header CRC mismatch")) << m_output;
    EXPECT_EQ(Run({"extract", package, m_dir + "out"}), EXIT_REFUSED);
    EXPECT_FALSE(std::filesystem::exists(m_dir + "out"));
}

TEST_F(ScriptPackage, EveryImagePastTheEndIsWarnedAndRefused)
{
    const std::string package = m_dir + "short.fwpkg";
    // Table 12 + 4 * 52 = 220 bytes, then images of 1000, 2500, 1000 and 1000
    // bytes: the file has 5720 bytes.
    std::vector<std::string> a = ScriptEntry("fits", 1, 0, 0, m_a);
    std::vector<std::string> b = ScriptEntry("ends_at_end", 1, 0, 0, m_b);
    b.insert(b.end(), {"3220", "2500"});
    std::vector<std::string> c = ScriptEntry("one_past", 1, 0, 0, m_a);
    c.insert(c.end(), {"3220", "2501"});
    // offset + length wraps to 0x1FE in 32 bits: that must not hide it.
    std::vector<std::string> d = ScriptEntry("far_past", 1, 0, 0, m_a);
    d.insert(d.end(), {"0xFFFFFFFF", "0xFFFFFFFF"});
    std::vector<std::string> arguments;
    for (const auto& e : {a, b, c, d}) {
        arguments.insert(arguments.end(), e.begin(), e.end());
    }
    MakeWithScript(package, arguments);
    ASSERT_EQ(Run({"info", package}), EXIT_OK) << m_output;
    EXPECT_EQ(CountOf(m_output, "reaches past the end"), 2u) << m_output;
    EXPECT_TRUE(Has(m_output, "entry 2 \"one_past\" (offset 3220, length 2501) reaches past the end of the file "
                              "(5720 bytes)"))
        << m_output;
    EXPECT_TRUE(Has(m_output, "entry 3 \"far_past\" (offset 4294967295, length 4294967295) reaches past"))
        << m_output;
    EXPECT_EQ(Run({"verify", package}), EXIT_REFUSED);
    EXPECT_TRUE(Has(m_output, "refused (every reader): entry 2 \"one_past\"")) << m_output;
    EXPECT_EQ(Run({"verify", package, "--family", "typesix"}), EXIT_REFUSED);
}

TEST_F(ScriptPackage, ImagesSharingBytesAreWarnedPairwiseAndTouchingOnesAreNot)
{
    const std::string package = m_dir + "overlap.fwpkg";
    // Table 12 + 5 * 52 = 272 bytes; the real images lie at 272 and 1272.
    std::vector<std::vector<std::string>> entries = {
        ScriptEntry("first", 1, 0, 0, m_a),    // 272 .. 1271
        ScriptEntry("second", 1, 0, 0, m_b),   // 1272 .. 3771, touches first
        ScriptEntry("inside", 1, 0, 0, m_a),   // 1500 .. 1599, inside second
        ScriptEntry("empty", 1, 0, 0, m_a),    // length 0 at 1500: shares nothing
        ScriptEntry("in_table", 1, 0, 0, m_a), // 100 .. 199: inside the table
    };
    entries[2].insert(entries[2].end(), {"1500", "100"});
    entries[3].insert(entries[3].end(), {"1500", "0"});
    entries[4].insert(entries[4].end(), {"100", "100"});
    std::vector<std::string> arguments;
    for (const auto& e : entries) {
        arguments.insert(arguments.end(), e.begin(), e.end());
    }
    MakeWithScript(package, arguments);
    ASSERT_EQ(Run({"info", package}), EXIT_OK) << m_output;
    EXPECT_TRUE(Has(m_output, "warning: entry 2 \"inside\" overlaps entry 1 \"second\" (bytes 1500 to 1599)"))
        << m_output;
    EXPECT_TRUE(Has(m_output, "warning: entry 4 \"in_table\" (offset 100) overlaps the header and entry table (272 "
                              "bytes)"))
        << m_output;
    EXPECT_EQ(CountOf(m_output, "overlaps"), 2u) << m_output;
    EXPECT_FALSE(Has(m_output, "\"empty\" overlaps")) << m_output;
    EXPECT_FALSE(Has(m_output, "\"second\" overlaps entry 0")) << m_output;
}

TEST_F(ScriptPackage, ThreeImagesOnTheSameBytesEachGetAWarning)
{
    const std::string package = m_dir + "same.fwpkg";
    std::vector<std::string> arguments;
    for (const char* name : {"x", "y", "z"}) {
        std::vector<std::string> e = ScriptEntry(name, 1, 0, 0, m_a);
        e.insert(e.end(), {"200", "50"});
        arguments.insert(arguments.end(), e.begin(), e.end());
    }
    MakeWithScript(package, arguments);
    ASSERT_EQ(Run({"info", package}), EXIT_OK) << m_output;
    EXPECT_TRUE(Has(m_output, "entry 1 \"y\" overlaps entry 0 \"x\"")) << m_output;
    EXPECT_TRUE(Has(m_output, "entry 2 \"z\" overlaps entry 0 \"x\"")) << m_output;
}

TEST_F(ScriptPackage, WhatIsNoPackageIsReportedWithoutATable)
{
    const std::string notPackage = Write("text.fwpkg", Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'});
    EXPECT_EQ(Run({"info", notPackage}), EXIT_REFUSED);
    EXPECT_TRUE(Has(m_output, "is not a fwpkg flag")) << m_output;
    const std::string tiny = Write("tiny.fwpkg", Bytes{0xDF, 0xAD, 0xBE});
    EXPECT_EQ(Run({"info", tiny}), EXIT_REFUSED);
    EXPECT_TRUE(Has(m_output, "fewer than a package header")) << m_output;
    EXPECT_EQ(Run({"info", m_dir + "missing.fwpkg"}), EXIT_REFUSED);

    // A table that claims more entries than the file holds.
    const std::string package = m_dir + "cut.fwpkg";
    MakeWithScript(package, ScriptEntry("a", 0, 0, 0, m_a));
    Bytes bytes = Read(package);
    bytes.resize(40);
    Write("cut.fwpkg", bytes);
    EXPECT_EQ(Run({"info", package}), EXIT_REFUSED);
    EXPECT_TRUE(Has(m_output, "entry table of 1 entries (64 bytes) reaches past the end of the file (40 bytes)"))
        << m_output;
    EXPECT_EQ(Run({"verify", package, "--family", "vb27"}), EXIT_REFUSED);
}

TEST_F(ScriptPackage, NamesWithControlBytesAreShownEscaped)
{
    const std::string package = m_dir + "esc.fwpkg";
    MakeWithScript(package, ScriptEntry("a\x1b[2Jb", 1, 0, 0, m_a));
    ASSERT_EQ(Run({"info", package}), EXIT_OK) << m_output;
    EXPECT_TRUE(Has(m_output, "a\\x1B[2Jb")) << m_output;
    EXPECT_FALSE(Has(m_output, "\x1b")) << m_output;
}

// --- extract --------------------------------------------------------------------------

class ExtractTest : public ScriptPackage {};

TEST_F(ExtractTest, PlainNamesAreUnpackedWithTheirDigests)
{
    const std::string package = m_dir + "fw.fwpkg";
    std::vector<std::string> arguments;
    for (const auto& e : {ScriptEntry("ssb.bin", 0, 0, 0, m_a), ScriptEntry("app", 18, 0, 0, m_b)}) {
        arguments.insert(arguments.end(), e.begin(), e.end());
    }
    MakeWithScript(package, arguments);
    const std::string out = m_dir + "deep/er/out";
    ASSERT_EQ(Run({"extract", package, out}), EXIT_OK) << m_output;
    EXPECT_TRUE(Has(m_output, "2 images extracted")) << m_output;
    for (const auto& pair : {std::make_pair(std::string("ssb.bin"), m_a), std::make_pair(std::string("app"), m_b)}) {
        const std::string image = out + "/" + pair.first;
        const Bytes expected = Read(pair.second);
        EXPECT_EQ(Read(image), expected) << image;
        Bytes digest(32);
        Sha256Util::sha256(expected.data(), expected.size(), digest.data());
        EXPECT_EQ(Read(FwpkgSp::GetSha256FilePath(image)), digest) << image;
    }
    EXPECT_TRUE(std::filesystem::exists(out + "/ssb_sha256.bin"));
    EXPECT_TRUE(std::filesystem::exists(out + "/app_sha256"));
}

TEST_F(ExtractTest, UnsafeNamesAreRefusedBeforeAnythingIsWritten)
{
    for (const char* name : {"../evil", "a/b", "..", "c\\d", ""}) {
        SCOPED_TRACE(name);
        const std::string package = m_dir + "bad.fwpkg";
        std::vector<std::string> arguments;
        for (const auto& e : {ScriptEntry("good.bin", 0, 0, 0, m_a), ScriptEntry(name, 1, 0, 0, m_b)}) {
            arguments.insert(arguments.end(), e.begin(), e.end());
        }
        MakeWithScript(package, arguments);
        const std::string out = m_dir + "x/out";
        EXPECT_EQ(Run({"extract", package, out}), EXIT_REFUSED);
        EXPECT_TRUE(Has(m_output, "is not a plain file name")) << m_output;
        EXPECT_FALSE(std::filesystem::exists(m_dir + "x"));
        EXPECT_FALSE(std::filesystem::exists(m_dir + "evil"));
        EXPECT_EQ(Run({"verify", package}), EXIT_REFUSED);
    }
}

TEST_F(ExtractTest, NamesThatUnpackOntoEachOtherAreRefused)
{
    const std::string package = m_dir + "dup.fwpkg";
    std::vector<std::string> arguments;
    for (const auto& e : {ScriptEntry("app.bin", 18, 0, 0, m_a), ScriptEntry("app_sha256.bin", 20, 0, 0, m_b)}) {
        arguments.insert(arguments.end(), e.begin(), e.end());
    }
    MakeWithScript(package, arguments);
    EXPECT_EQ(Run({"extract", package, m_dir + "out"}), EXIT_REFUSED);
    EXPECT_TRUE(Has(m_output, "both unpack to \"app_sha256.bin\"")) << m_output;
    EXPECT_FALSE(std::filesystem::exists(m_dir + "out"));
    // The job itself lists it; verify says so and warns.
    EXPECT_EQ(Run({"verify", package, "--family", "typesix"}), EXIT_OK);
    EXPECT_TRUE(Has(m_output, "warning:")) << m_output;
}

// --- the command line ------------------------------------------------------------------

TEST(PackageCommandLine, WrongCommandLinesExitWithTwo)
{
    std::ostringstream out;
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"frobnicate"},
        {"info"},
        {"info", "a", "b"},
        {"info", "a", "--family"},
        {"info", "a", "--family", "vb28"},
        {"info", "a", "--layout", "new"},
        {"extract", "a"},
        {"extract", "a", "b", "--family", "vb27"},
        {"pack", "o", "--entry", "a:0:0:0"},
        {"pack", "o", "--entry", "a:zero:0:0:f"},
        {"pack", "o", "--entry", "a:0:0x100000000:0:f"},
        {"pack", "o", "--entry", "a:0:0:4g:f"},
        {"pack", "o", "--entry", "a:0:0:0:"},
        {"pack", "o", "--layout", "old", "--entry", "a:0:0:0:f"},
        {"verify", "a", "--quick"},
    };
    for (const auto& arguments : wrong) {
        std::string line;
        for (const std::string& a : arguments) {
            line += a + " ";
        }
        EXPECT_EQ(RunPackageTool(arguments, out), EXIT_USAGE) << line;
    }
    EXPECT_EQ(RunPackageTool({"-h"}, out), EXIT_OK);
    EXPECT_EQ(RunPackageTool({"-v"}, out), EXIT_OK);
}

TEST(PackageCommandLine, NumbersReachTheFull32BitsAndNoFurther)
{
    uint32_t value = 0;
    EXPECT_TRUE(ParseNumber32("0xFFFFFFFF", value));
    EXPECT_EQ(value, 0xFFFFFFFFu);
    EXPECT_TRUE(ParseNumber32("4294967295", value));
    EXPECT_EQ(value, 0xFFFFFFFFu);
    EXPECT_TRUE(ParseNumber32("3g", value));
    EXPECT_EQ(value, 3u << 30);
    EXPECT_TRUE(ParseNumber32("64K", value));
    EXPECT_EQ(value, 65536u);
    for (const char* bad : {"4294967296", "0x100000000", "4g", "", "0x", "-1", "1.5m", "12kb", "k"}) {
        EXPECT_FALSE(ParseNumber32(bad, value)) << bad;
    }
}

TEST(PackageCommandLine, AnEntryFileMayHoldColons)
{
    PackEntry entry;
    std::string error;
    ASSERT_TRUE(ParsePackEntry("app:0x12:0x8000:1m:/tmp/a:b.bin", entry, error)) << error;
    EXPECT_EQ(entry.name, "app");
    EXPECT_EQ(entry.type, 0x12u);
    EXPECT_EQ(entry.burnAddress, 0x8000u);
    EXPECT_EQ(entry.burnSize, 1u << 20);
    EXPECT_EQ(entry.file, "/tmp/a:b.bin");
}

}  // namespace
