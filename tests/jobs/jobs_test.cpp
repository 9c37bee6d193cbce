// The jobs apart from a board: overall progress, the settling time of the
// verification, failure messages without a board, and a refusal that comes
// before unpacking. Burning, the job each chip type gets, the read refusals
// and the operations a job does not offer are exercised through the built tool.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/fwpkg_builder.h"
#include "support/test_files.h"
#include "jobs/connection_burner_worker.h"
#include "jobs/typesix_burner_worker.h"

using namespace TestSupport;

using BurnInfo::BurnContext;
using BurnInfo::PartitionItem;

namespace {

constexpr const char* ABSENT_PORT = "/nonexistent/tarnwick-port";

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

// --- TypeSix job: what it refuses before unpacking -----------------------------------------

// 65535 packets of 4096 bytes plus one byte cannot be numbered; the package is sparse.
TEST(TypeSixJob, ALoaderThatNeedsMoreThan65535PacketsIsRefusedBeforeUnpacking)
{
    const TempDir temp("tarnwick-jobs");
    const std::string package = temp.Path() + "/big.fwpkg";
    const uint32_t length = 65535u * 4096u + 1u;
    std::vector<uint8_t> table = BuildPackage({{"loader.bin", 0, 0, 0, {}}});
    PutLe(table, FieldAt(false, 0, 4), length, 4);
    SealPackage(table, false);
    ASSERT_TRUE(WriteFile(package, table));
    std::filesystem::resize_file(package, table.size() + length);
    auto context = Context(0x30002, "typesix", temp.Path() + "/");
    context->SetFilePath(package);
    TypeSixBurnerWorker job(std::move(context));
    bool burned = true;
    EXPECT_EQ(Captured([&] { burned = job.BurnPartitions(); }),
              "error: Loader loader.bin of 268431361 bytes needs more than 65535 packets of 4096 bytes.\n");
    EXPECT_FALSE(burned);
    EXPECT_FALSE(std::filesystem::exists(temp.Path() + "/big_extract"));
}
