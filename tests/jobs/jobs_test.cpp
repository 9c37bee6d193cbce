// The jobs apart from a board: overall progress, which is each job's own; the
// outcome a run ends with, made where the failure happened; failure messages
// without a board; and a refusal that comes before unpacking. Burning, the
// job each chip type gets, the read refusals and the operations a job does
// not offer are exercised through the built tool.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/console_output.h"
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

template <typename F>
std::string Captured(F run)
{
    testing::internal::CaptureStdout();
    run();
    ConsoleOutput::Flush();
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

// What one job's events say, apart from every other job's.
class MessagesOf : public Common::RunEvents {
public:
    void Message(std::string_view text, std::string_view) override { m_text.append(text); }
    void Stage(Common::RunStage) override {}
    void ImageStarted(const Common::ImageStart&) override {}
    void Progress(int) override {}
    void ImageEnded(Common::ImageResult, const Common::Outcome&) override {}
    void CheckStarted(const Common::ImageStart&) override {}
    void ImageChecked(const Common::ImageCheck&) override {}
    void LineRateChanged(uint32_t) override {}
    void BoardText(std::string_view) override {}
    std::string Take() { return std::move(m_text); }

private:
    std::string m_text;
};

// A job of the generic flow whose chip events the test plays, as the chip
// object would hand them on.
class GenericFlow : public BurnerWorkerBase {
public:
    explicit GenericFlow(const std::vector<PartitionItem>& rows) : BurnerWorkerBase(Rows(rows))
    {
        m_progress.isPrintProgress = true;
        AddEventReceiver(&messages);
    }
    Common::RunEvents& ChipEvents() { return m_events; }
    const OverallProgress& Figures() const { return m_progress; }

    MessagesOf messages;

private:
    static std::unique_ptr<BurnContext> Rows(const std::vector<PartitionItem>& rows)
    {
        auto context = Context(0x30001, "wing");
        context->SetPartitionInfo(rows);
        return context;
    }
};

}  // namespace

// --- overall progress and the numbers of the job base ------------------------------------

TEST(OverallProgress, FiguresCountSelectedRowsStayAtTheEndOfTheListAndDoNotOverflow)
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
        // Nothing selected: the percentage of the file as it is.
        {{Row(false, 100)}, {40}, "Progress: 40%\n", 0},
    };
    for (const auto& c : cases) {
        GenericFlow job(c.rows);
        Captured([&] {
            for (int percent : c.percents) {
                job.ChipEvents().Progress(percent);
            }
        });
        EXPECT_EQ(job.messages.Take(), c.printed);
        EXPECT_EQ(job.Figures().totalLength, c.total);
        EXPECT_EQ(job.Figures().sentSize, c.total);
    }
}

// Each job keeps its own figures: a second job in the process neither resets
// the first one's nor is moved by its transfers.
TEST(OverallProgress, TwoJobsInOneProcessEachSeeOnlyTheirOwnProgress)
{
    GenericFlow first({Row(true, 100), Row(true, 300)});
    Captured([&] { first.ChipEvents().Progress(100); });
    GenericFlow second({Row(true, 1000)});
    Captured([&] {
        second.ChipEvents().Progress(50);
        first.ChipEvents().Progress(50);
        second.ChipEvents().Progress(100);
        first.ChipEvents().Progress(100);
    });
    EXPECT_EQ(first.messages.Take(), "Progress: 25%\nProgress: 62%\nProgress: 100%\n");
    EXPECT_EQ(second.messages.Take(), "Progress: 50%\nProgress: 100%\n");
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

// --- the outcome a run ends with --------------------------------------------------------------

// The first failure of a run is its outcome: its kind, the message as it was
// printed, and the result code that becomes the exit code.
TEST(RunOutcome, TheRunEndsWithTheFailureMadeWhereItHappened)
{
    const TempDir temp("tarnwick-jobs");
    const struct {
        const char* what;
        std::function<std::unique_ptr<BurnerWorkerBase>()> job;
        int code;
        Common::OutcomeKind kind;
        const char* message;  // how it begins
    } cases[] = {
        {"a port that does not exist", [] { return std::make_unique<ConnectionBurnerWorker>(Context(0x30001, "wing")); },
         BurnInfo::INIT_TRANSFER_WAY_FAILED, Common::OutcomeKind::PORT, "error: Open serial port :/nonexistent/"},
        {"a package that cannot be read",
         [] {
             auto context = Context(0x30004, "vb27");
             context->SetFilePath("/nonexistent/app.fwpkg");
             return std::make_unique<Vb27BurnerWorkerSp::Vb27BurnerWorker>(std::move(context));
         },
         BurnInfo::BURN_BOOT_FAILED, Common::OutcomeKind::FILE, "Get file content failed: /nonexistent/app.fwpkg"},
        {"a package that is not one",
         [&temp] {
             const std::string file = temp.Path() + "/junk.fwpkg";
             WriteFile(file, Pattern(100, 7));
             auto context = Context(0x30002, "typesix", temp.Path() + "/");
             context->SetFilePath(file);
             return std::make_unique<TypeSixBurnerWorker>(std::move(context));
         },
         BurnInfo::BURN_PARTITION_FAILED, Common::OutcomeKind::PACKAGE_REFUSED, "error: Unknown fwpkg format"},
        {"an erase the family does not offer",
         [] { return std::make_unique<ConnectionBurnerWorker>(Context(0x30001, "wing")); }, BurnInfo::ERASE_FAILED,
         Common::OutcomeKind::NOT_OFFERED, "chip: wing does not support the erase function."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<BurnerWorkerBase> job = c.job();
        int result = 0;
        const std::string out = Captured([&] {
            result = c.kind == Common::OutcomeKind::NOT_OFFERED ? job->Erase() : job->Burn();
        });
        const Common::Outcome& outcome = job->GetOutcome();
        EXPECT_EQ(result, c.code);
        EXPECT_EQ(outcome.code, c.code) << "the exit code is the outcome's";
        EXPECT_EQ(outcome.kind, c.kind) << Common::OutcomeKindName(outcome.kind);
        EXPECT_EQ(outcome.message.rfind(c.message, 0), 0u) << outcome.message;
        EXPECT_NE(out.find(outcome.message), std::string::npos) << "printed as it is kept: " << out;
    }
}

TEST(JobBase, BoardCommandsWithoutAHandleOrTransportFailWithTheirMessages)
{
    BurnerWorkerBase job(Context(0x30004, "vb27"));
    const std::string out = Captured([&] {
        EXPECT_FALSE(job.Go(0x1000));
        EXPECT_FALSE(job.SendEraseCmd(0x80000000ul, 16));
    });
    EXPECT_NE(out.find("\nerror: erase -2147483648 failed!\n"), std::string::npos)
        << "the address is shown as a signed decimal: " << out;

    BurnerWorkerBase unchosen(std::make_unique<BurnContext>("/nonexistent/"));
    EXPECT_EQ(Captured([&] { EXPECT_FALSE(unchosen.InitTransport()); }), "error: Unknow transport!\n");
    EXPECT_EQ(unchosen.GetOutcome().kind, Common::OutcomeKind::SETTINGS);
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
            EXPECT_EQ(job.GetOutcome().image, "loader.bin");
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
