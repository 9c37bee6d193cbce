// The jobs apart from a board: overall progress, the package test by flag,
// the settling time of the verification, and the refusals that come before
// the port is touched. Burning, the job each chip type gets and the
// operations a job does not offer are exercised through the built tool.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/fwpkg_builder.h"
#include "support/test_files.h"
#include "jobs/connection_burner_worker.h"
#include "jobs/typesix_burner_worker.h"
#include "jobs/vb27_burner_worker.h"

using namespace TestSupport;

using BurnInfo::BurnContext;
using BurnInfo::PartitionItem;

namespace {

constexpr const char* ABSENT_PORT = "/nonexistent/tarnwick-port";
constexpr const char* OPEN_FAILED = "error: Open serial port";

template <typename F>
std::string Captured(F run)
{
    testing::internal::CaptureStdout();
    run();
    return testing::internal::GetCapturedStdout();
}

std::unique_ptr<BurnContext> Context(int chipType, const std::string& chip, const std::string& dir = "/nonexistent/")
{
    auto context = std::make_unique<BurnContext>(dir);
    context->SetChipType(chipType);
    context->SetChipName(chip);
    context->SetTransportWay(BurnInfo::TransportWay::SERIAL);
    context->SetSerialPort(ABSENT_PORT);
    return context;
}

PartitionItem Row(bool sel, int64_t fileSize, const std::string& file = "")
{
    PartitionItem row;
    row.sel = sel;
    row.fileSize = fileSize;
    row.selectFile = file;
    return row;
}

class ScratchDir : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        WriteFile(m_dir + name, bytes);
        return m_dir + name;
    }
    TempDir m_temp{"tarnwick-jobs"};
    std::string m_dir = m_temp.Path() + "/";
};

}  // namespace

// --- overall progress and the numbers of the job base ------------------------------------

class OverallProgress : public ::testing::Test {
protected:
    void Start(const std::vector<PartitionItem>& rows)
    {
        auto context = Context(0x30004, "vb27");
        context->SetPartitionInfo(rows);
        m_job = std::make_unique<BurnerWorkerBase>(std::move(context));
        BurnerWorkerBase::m_isPrintProgress = true;
    }
    static std::string Report(const std::vector<int>& percents)
    {
        return Captured([&] {
            for (int percent : percents) {
                BurnerWorkerBase::SetProgress(0, percent);
            }
        });
    }
    std::unique_ptr<BurnerWorkerBase> m_job;
};

TEST_F(OverallProgress, FiguresCountSelectedRowsStayAtTheEndOfTheListAndDoNotOverflow)
{
    const uint64_t big = uint64_t{3} * 1024 * 1024 * 1024;  // 3 GiB
    const struct {
        std::vector<PartitionItem> rows;
        std::vector<int> percents;
        std::string printed;
        uint64_t total;
    } cases[] = {
        {{Row(true, 100), Row(false, 1000), Row(true, 300)}, {50, 100, 50, 100},
         "Progress: 12%\nProgress: 25%\nProgress: 62%\nProgress: 100%\n", 400},
        // A deselected loader is still transferred: the library reports one file more.
        {{Row(false, 50), Row(true, 100), Row(true, 300)}, {100, 100, 50, 100, 100},
         "Progress: 25%\nProgress: 100%\nProgress: 100%\nProgress: 100%\nProgress: 100%\n", 400},
        {{Row(true, static_cast<int64_t>(big)), Row(true, static_cast<int64_t>(big))}, {50, 100, 100},
         "Progress: 25%\nProgress: 50%\nProgress: 100%\n", 2 * big},
    };
    for (const auto& c : cases) {
        Start(c.rows);
        EXPECT_EQ(Report(c.percents), c.printed);
        EXPECT_EQ(BurnerWorkerBase::m_totalLength, c.total);
        EXPECT_EQ(BurnerWorkerBase::m_sentSize, c.total);
        EXPECT_EQ(BurnerWorkerBase::m_partIndex, BurnerWorkerBase::m_partSizeList.size());
    }
}

class AllinoneFile : public ScratchDir {};

TEST_F(AllinoneFile, TheFlagIsReadLittleEndianAndNothingElseIsAPackage)
{
    BurnerWorkerBase job(Context(0x30004, "vb27"));
    const std::vector<std::pair<std::vector<uint8_t>, bool>> files{
        {{0xDF, 0xAD, 0xBE, 0xEF, 0x00, 0x00}, true},  {{0xDF, 0xAD, 0xBE, 0xEF}, true},
        {{0xEF, 0xBE, 0xAD, 0xDF, 0x00, 0x00}, false},  // file order EF BE AD DF is not the flag
        {{0xD0, 0xAD, 0xBE, 0xEF}, false},              {{0xFF, 0xAD, 0xBE, 0xEF}, false},
        {{0xDF, 0xAD, 0xBE}, false},                    {{}, false}};
    for (const auto& [bytes, isPackage] : files) {
        EXPECT_EQ(job.IsAllinoneFile(Write("file.bin", bytes).c_str()), isPackage) << bytes.size();
    }
    Captured([&] {
        EXPECT_FALSE(job.IsAllinoneFile((m_dir + "missing.fwpkg").c_str()));
        EXPECT_FALSE(job.IsAllinoneFile(nullptr));
    });
}

TEST(VerificationSettleTime, OneStepForEveryStartedBlockOf20480Bytes)
{
    EXPECT_EQ(BurnerWorkerBase::VerificationSettleTime(0), 0u);
    EXPECT_EQ(BurnerWorkerBase::VerificationSettleTime(1), 1000u);
    EXPECT_EQ(BurnerWorkerBase::VerificationSettleTime(20480), 1000u);
    EXPECT_EQ(BurnerWorkerBase::VerificationSettleTime(20481), 2000u);
    EXPECT_EQ(BurnerWorkerBase::VerificationSettleTime(0xFFFFFFFFu), 209716ull * 1000u)
        << "the largest image must not wrap";
}

TEST(JobBase, BoardCommandsWithoutAHandleOrTransportFailWithTheirMessages)
{
    BurnerWorkerBase job(Context(0x30004, "vb27"));
    const std::string out = Captured([&] {
        EXPECT_FALSE(job.Go(0x1000));
        EXPECT_FALSE(job.SendEraseCmd(0x80000000ul, 16));
        EXPECT_FALSE(job.ResetBySerial());
        EXPECT_FALSE(job.ResetBoard());
    });
    EXPECT_NE(out.find("\nerror: erase -2147483648 failed!\n"), std::string::npos)
        << "the address is shown as a signed decimal: " << out;
    EXPECT_NE(out.find("error: Reset board failed.\n"), std::string::npos) << out;
    const size_t sent = out.find("\nSend command: reset\n");
    ASSERT_NE(sent, std::string::npos) << out;
    EXPECT_NE(out.find("reset failed!\n", sent), std::string::npos) << out;

    BurnerWorkerBase unchosen(std::make_unique<BurnContext>("/nonexistent/"));
    EXPECT_EQ(Captured([&] { EXPECT_FALSE(unchosen.InitTransport()); }), "error: Unknow transport!\n");
}

// Without an open board a selected loader fails the step and is named; a
// deselected one (or none) is no step at all.
TEST(ConnectionJob, TheLoaderStepRunsOnlyForASelectedLoader)
{
    for (const bool selected : {false, true}) {
        auto context = Context(0x30001, "wing");
        context->SetPartitionInfo({Row(selected, 0, "loader.bin")});
        ConnectionBurnerWorker job(std::move(context));
        bool loaded = !selected;
        const std::string out = Captured([&] { loaded = job.DownloadBootData(); });
        EXPECT_EQ(loaded, !selected);
        if (selected) {
            EXPECT_NE(out.find("\nerror: Burn loader.bin failed!\n"), std::string::npos) << out;
            EXPECT_EQ(out.find("successfully"), std::string::npos) << out;
        } else {
            EXPECT_EQ(out, "");
        }
    }
}

// --- TypeSix job: the rate it hands on and what it refuses --------------------------------

TEST(TypeSixJob, TheRateOfTheContextIsWhatTheImageTransfersUse)
{
    // "-b" takes atoi: a rate that is no number stays at the ROM's.
    for (const auto& [asked, used] : std::vector<std::pair<int, uint32_t>>{
             {BurnInfo::DEFAULT_BAUD_RATE, 115200}, {921600, 921600}, {3000000, 3000000}, {0, 115200}, {-9600, 115200}}) {
        auto context = Context(BurnInfo::TYPESIX_CHIP_TYPE, "typesix");
        context->SetBaudRate(asked);
        EXPECT_EQ(TypeSixBurnerWorker(std::move(context)).TransferBaudRate(), used) << asked;
    }
}

class TypeSixPackage : public ScratchDir {
protected:
    bool BurnPartitions(const std::string& package, std::string& out)
    {
        auto context = Context(BurnInfo::TYPESIX_CHIP_TYPE, "typesix", m_dir);
        context->SetFilePath(package);
        TypeSixBurnerWorker job(std::move(context));
        bool burned = true;
        out = Captured([&] { burned = job.BurnPartitions(); });
        return burned;
    }
};

TEST_F(TypeSixPackage, WithoutAPackageNothingIsListed)
{
    std::string out;
    EXPECT_FALSE(BurnPartitions("", out));
    EXPECT_EQ(out, "error: No fwpkg file specified!\n");
}

// 65535 packets of 4096 bytes plus one byte cannot be numbered; the package is sparse.
TEST_F(TypeSixPackage, ALoaderThatNeedsMoreThan65535PacketsIsRefusedBeforeUnpacking)
{
    const uint32_t length = 65535u * 4096u + 1u;
    std::vector<uint8_t> table = BuildPackage({{"loader.bin", 0, 0, 0, {}}});
    PutLe(table, FieldAt(false, 0, 4), length, 4);
    SealPackage(table, false);
    const std::string package = Write("big.fwpkg", table);
    std::filesystem::resize_file(package, table.size() + length);
    std::string out;
    EXPECT_FALSE(BurnPartitions(package, out));
    EXPECT_EQ(out, "error: Loader loader.bin of 268431361 bytes needs more than 65535 packets of 4096 bytes.\n");
    EXPECT_FALSE(std::filesystem::exists(m_dir + "big_extract"));
}

// --- Vb27 read: an output file and a size, never the package ---------------------------------

class ReadTarget : public ScratchDir {
protected:
    // A read that passes its checks fails at opening the absent port.
    int Read(const std::string& output, int size)
    {
        auto context = Context(0x30004, "vb27", m_dir);
        context->SetFilePath(m_dir + "board.fwpkg");
        context->SetReadFile(output);
        context->SetReadSize(size);
        Vb27BurnerWorkerSp::Vb27BurnerWorker job(std::move(context));
        int result = 0;
        m_out = Captured([&] { result = job.Read(); });
        return result;
    }
    std::string m_out;
};

TEST_F(ReadTarget, TheOutputMayNotBeThePackageUnderAnyName)
{
    const std::vector<uint8_t> bytes{'p', 'k', 'g'};
    const std::string package = Write("board.fwpkg", bytes);
    std::filesystem::create_directories(m_dir + "sub");
    std::filesystem::create_symlink(package, m_dir + "link.fwpkg");
    std::filesystem::create_hard_link(package, m_dir + "hard.fwpkg");
    struct Case {
        std::string output;
        int size;
        int result;
        std::string message;
    };
    const std::vector<Case> cases{
        {"", 4096, BurnInfo::PARAM_ERROR, "error: No output file for the read: give it with -readfile:PATH\n"},
        {m_dir + "out.bin", 0, BurnInfo::PARAM_ERROR, "error: Nothing to read: give the number of bytes with -readsize:N\n"},
        {package, 4096, BurnInfo::PARAM_ERROR, "is the package"},
        {m_dir + "sub/../board.fwpkg", 4096, BurnInfo::PARAM_ERROR, "is the package"},
        {m_dir + "./board.fwpkg", 4096, BurnInfo::PARAM_ERROR, "is the package"},
        {m_dir + "link.fwpkg", 4096, BurnInfo::PARAM_ERROR, "is the package"},
        {m_dir + "hard.fwpkg", 4096, BurnInfo::PARAM_ERROR, "is the package"},
        {m_dir + "flash.bin", 4096, BurnInfo::INIT_TRANSFER_WAY_FAILED, OPEN_FAILED},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Read(c.output, c.size), c.result) << c.output;
        EXPECT_NE(m_out.find(c.message), std::string::npos) << c.output << ": " << m_out;
        EXPECT_EQ(m_out.find(OPEN_FAILED) != std::string::npos, c.result != BurnInfo::PARAM_ERROR) << m_out;
    }
    EXPECT_FALSE(std::filesystem::exists(m_dir + "flash.bin"));
    std::ifstream in(package, std::ios::binary);
    EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), bytes);
}
