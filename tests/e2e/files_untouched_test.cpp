// The files a user gives the tool are read, never written: after every kind of
// run, successful or failing, the package, the partition table and the images
// hold the same bytes and were not rewritten (same modification time).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "e2e_support.h"

using namespace E2e;

namespace {

constexpr int RUN_LIMIT_MS = 120000;

struct FileState {
    std::string sha256;
    int64_t mtimeNs = 0;
    uint64_t size = 0;
    bool operator==(const FileState& other) const
    {
        return sha256 == other.sha256 && mtimeNs == other.mtimeNs && size == other.size;
    }
};

class FilesUntouched : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_install.Ready()) << "build tarnwickcmd first: " << TARNWICK_BIN_DIR;
        m_given = m_install.Path("given/");
        std::filesystem::create_directories(m_given);

        m_vb27Package = Given("vb27.fwpkg", BuildPackage({{"loader.bin", TYPE_LOADER, 0, 0, Pattern(6000, 1)},
                                                          {"app.bin", TYPE_FLASH, 0x10000, 0x1000, Pattern(3000, 2)},
                                                          {"nv.bin", TYPE_NV_KV, 0x40000, 0x1000, Pattern(700, 3)},
                                                          {"big.bin", TYPE_FLASH, 0x100000, 0x40000,
                                                           Pattern(200 * 1024, 4)}}));
        Bytes broken = BuildPackage({{"loader.bin", TYPE_LOADER, 0, 0, Pattern(1000, 5)}});
        broken[OFFSET_CRC] ^= 0x5A;
        m_brokenPackage = Given("broken.fwpkg", broken);
        m_typeSixPackage = Given("typesix.fwpkg", BuildPackage({{"loader.bin", 0, 0, 0, Pattern(5000, 6)},
                                                                {"flash.bin", 100, 0x1000, 0x4000, Pattern(9000, 7)},
                                                                {"flash", 102, 0, 0, Pattern(32, 8)}}));
        const std::string image = Given("boot.bin", Pattern(4096, 9));
        const std::string second = Given("kernel.bin", Pattern(10000, 10));
        m_table = Given("table.xml",
                        "<?xml version=\"1.0\"?>\n<Partitions>\n" + Row("boot", image, "0x0") +
                            Row("kernel", second, "0x10000") + "</Partitions>\n");
        m_before = Snapshot();
        ASSERT_EQ(m_before.size(), 6u);
    }

    static std::string Row(const std::string& name, const std::string& file, const std::string& start)
    {
        return "  <Partition Sel=\"1\" PartitionName=\"" + name + "\" FileSystem=\"none\" FlashType=\"spi\" Start=\"" +
               start + "\" Length=\"64k\" SelectFile=\"" + file + "\"/>\n";
    }

    std::string Given(const std::string& name, const Bytes& bytes)
    {
        const std::string path = m_given + name;
        EXPECT_TRUE(WriteFile(path, bytes));
        return path;
    }

    std::string Given(const std::string& name, const std::string& text)
    {
        return Given(name, Bytes(text.begin(), text.end()));
    }

    // The files given to the tool (the top of the given directory only: an
    // extract directory beside a package is the tool's own output).
    std::map<std::string, FileState> Snapshot() const
    {
        std::map<std::string, FileState> files;
        for (const auto& entry : std::filesystem::directory_iterator(m_given)) {
            if (!entry.is_regular_file()) {
                continue;
            }
            struct stat info {};
            const std::string path = entry.path().string();
            if (stat(path.c_str(), &info) != 0) {
                continue;
            }
            files[path] = {Sha256Hex(ReadFile(path)),
                           static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
                           static_cast<uint64_t>(info.st_size)};
        }
        return files;
    }

    // Runs the tool against a fresh simulator and checks the given files afterwards.
    RunResult RunAndCheck(const std::string& family, const std::vector<std::string>& simExtra,
                          const std::string& operation, const std::string& file, const std::vector<std::string>& extra)
    {
        Simulator sim(m_install.Dir(), family, simExtra);
        EXPECT_TRUE(sim.Started());
        const RunResult run = m_install.Run(ToolArgs(operation, family, sim.Port(), file, extra), RUN_LIMIT_MS);
        sim.Stop();
        EXPECT_NE(run.exitCode, -1) << "did not end\n" << run.output;
        EXPECT_EQ(Snapshot(), m_before) << "a given file changed during: " << operation << " " << file << "\n"
                                        << run.output;
        return run;
    }

    Installation m_install;
    std::string m_given;
    std::string m_vb27Package;
    std::string m_brokenPackage;
    std::string m_typeSixPackage;
    std::string m_table;
    std::map<std::string, FileState> m_before;
};

enum Ending { SUCCEEDS, FAILS, EITHER };

TEST_F(FilesUntouched, AfterEveryKindOfRunSuccessfulOrFailing)
{
    const std::string readFile = m_install.Path("read.bin");
    struct Case {
        const char* family;
        std::vector<std::string> simExtra;
        const char* operation;
        std::string file;
        std::vector<std::string> extra;
        Ending ending;
    };
    const std::vector<Case> cases{
        {"vb27", {}, "--burn", m_vb27Package, {"-re", "1"}, SUCCEEDS},
        {"vb27", {}, "--burn", m_vb27Package, {"-packagesize:8192"}, SUCCEEDS},
        {"vb27", {}, "--erase", m_vb27Package, {}, SUCCEEDS},
        {"vb27", {}, "--read", m_vb27Package, {"-readfile:" + readFile, "-readaddr:0x1000", "-readsize:5000"}, SUCCEEDS},
        // A pulled cable in the middle of an image, a refused package, a read
        // that would write over the package, and a table run.
        {"vb27", {"--close-after", "30000"}, "--burn", m_vb27Package, {}, FAILS},
        {"vb27", {}, "--burn", m_brokenPackage, {}, FAILS},
        {"vb27", {}, "--read", m_vb27Package, {"-readfile:" + m_vb27Package, "-readsize:4096"}, FAILS},
        {"vb27", {"--close-after", "2000"}, "--burn", m_table, {}, EITHER},
        {"typesix", {}, "--burn", m_typeSixPackage, {}, SUCCEEDS},
        {"typesix", {"--nak-frame", "3"}, "--burn", m_typeSixPackage, {}, FAILS},
        {"typesix", {"--close-after", "9000"}, "--burn", m_typeSixPackage, {}, FAILS},
        // A second run over the extract directory the first one left.
        {"typesix", {}, "--burn", m_typeSixPackage, {}, SUCCEEDS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.operation) + " " + c.file);
        const RunResult run = RunAndCheck(c.family, c.simExtra, c.operation, c.file, c.extra);
        if (c.ending != EITHER) {
            EXPECT_EQ(run.exitCode == 0, c.ending == SUCCEEDS) << run.output;
        }
    }
    EXPECT_EQ(ReadFile(readFile).size(), 5000u);
}

}  // namespace
