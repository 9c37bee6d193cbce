// The jobs apart from a board: overall progress, which is each job's own, and
// the outcome a run ends with, made where the failure happened. Burning, the
// job each chip type gets, the read refusals and the operations a job does
// not offer are exercised through the built tool.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/console_output.h"
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

// What one job's events say, apart from every other job's. No callback is
// registered, so the other events go nowhere.
class MessagesOf : public Common::CallbackEvents {
public:
    void Message(std::string_view text, std::string_view) override { m_text.append(text); }
    std::string Take() { return std::move(m_text); }

private:
    std::string m_text;
};

// A job of the generic flow, one selected row per image size, whose chip
// events the test plays as the chip object would hand them on.
class GenericFlow : public BurnerWorkerBase {
public:
    explicit GenericFlow(const std::vector<int64_t>& sizes) : BurnerWorkerBase(Rows(sizes))
    {
        m_progress.isPrintProgress = true;
        AddEventReceiver(&messages);
    }
    Common::RunEvents& ChipEvents() { return m_events; }

    MessagesOf messages;

private:
    static std::unique_ptr<BurnContext> Rows(const std::vector<int64_t>& sizes)
    {
        auto context = Context(0x30001, "wing");
        std::vector<PartitionItem> rows(sizes.size());
        for (size_t i = 0; i < sizes.size(); ++i) {
            rows[i].sel = true;
            rows[i].fileSize = sizes[i];
        }
        context->SetPartitionInfo(rows);
        return context;
    }
};

}  // namespace

// --- overall progress -----------------------------------------------------------------------

// Each job keeps its own figures: a second job in the process neither resets
// the first one's nor is moved by its transfers.
TEST(OverallProgress, TwoJobsInOneProcessEachSeeOnlyTheirOwnProgress)
{
    GenericFlow first({100, 300});
    Captured([&] { first.ChipEvents().Progress(100); });
    GenericFlow second({1000});
    Captured([&] {
        second.ChipEvents().Progress(50);
        first.ChipEvents().Progress(50);
        second.ChipEvents().Progress(100);
        first.ChipEvents().Progress(100);
    });
    EXPECT_EQ(first.messages.Take(), "Progress: 25%\nProgress: 62%\nProgress: 100%\n");
    EXPECT_EQ(second.messages.Take(), "Progress: 50%\nProgress: 100%\n");
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
