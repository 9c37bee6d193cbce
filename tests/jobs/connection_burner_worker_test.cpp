// The connection job: the generic flow for the connection-chip types that
// have no job of their own. The device library has no chip object for them,
// so a burn ends at opening the board; erase and read are not offered.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "jobs/burner_worker_factory.h"
#include "jobs/connection_burner_worker.h"

using BurnInfo::BurnContext;
using BurnInfo::PartitionItem;

namespace {

constexpr const char* PORT = "/nonexistent/tarnwick-port";

class ConnectionJob : public ::testing::Test {
protected:
    std::unique_ptr<BurnerWorkerBase> Job(int chipType, const std::vector<PartitionItem>& table = {})
    {
        auto context = std::make_unique<BurnContext>("/nonexistent-installation/");
        context->SetChipType(chipType);
        context->SetChipName("wing");
        context->SetTransportWay(BurnInfo::TransportWay::SERIAL);
        context->SetSerialPort(PORT);
        context->SetFilePath("/nonexistent/image.bin");
        context->SetPartitionInfo(table);
        testing::internal::CaptureStdout();
        auto job = Jobs::CreateBurnerWorker(chipType, std::move(context));
        m_out = testing::internal::GetCapturedStdout();
        return job;
    }

    template <typename F>
    std::string Captured(F run)
    {
        testing::internal::CaptureStdout();
        run();
        return testing::internal::GetCapturedStdout();
    }

    std::string m_out;
};

TEST_F(ConnectionJob, EveryOtherTypeOfTheDepartmentGetsIt)
{
    for (int chipType : {0x30000, 0x30001, 0x30003, 0x30006, 0x300FF}) {
        auto job = Job(chipType);
        ASSERT_NE(job, nullptr) << chipType;
        EXPECT_NE(dynamic_cast<ConnectionBurnerWorker*>(job.get()), nullptr) << chipType;
        EXPECT_EQ(m_out, "");
    }
    EXPECT_EQ(dynamic_cast<ConnectionBurnerWorker*>(Job(0x30002).get()), nullptr);
}

TEST_F(ConnectionJob, ABurnEndsAtOpeningTheBoardWithResultThree)
{
    auto job = Job(0x30001);
    int result = 0;
    const std::string out = Captured([&] { result = job->Burn(); });
    EXPECT_EQ(result, BurnInfo::INIT_TRANSFER_WAY_FAILED);
    EXPECT_EQ(out, std::string("Please reset the device, the waiting time is about 30 seconds.\n"
                               "new transport failed\n"
                               "error: Open serial port :") +
                       PORT +
                       " failed, It may be caused by the following reasons:\n"
                       "1. Serial port is occupied or does not exist.\n"
                       "2. Check baud rate, stop bits, parity is correct.\n");
}

TEST_F(ConnectionJob, EraseAndReadSayTheyAreNotOfferedAndFail)
{
    auto job = Job(0x30001);
    int result = 0;
    EXPECT_EQ(Captured([&] { result = job->Erase(); }), "chip: wing does not support the erase function.\n");
    EXPECT_EQ(result, BurnInfo::ERASE_FAILED);
    EXPECT_EQ(Captured([&] { result = job->Read(); }), "chip: wing does not support the read function.\n");
    EXPECT_EQ(result, BurnInfo::READ_PARTITION_FAILED);
}

TEST_F(ConnectionJob, ADeselectedLoaderIsNoLoaderStep)
{
    PartitionItem loader;
    loader.sel = false;
    loader.selectFile = "loader.bin";
    auto job = Job(0x30001, {loader});
    bool loaded = false;
    EXPECT_EQ(Captured([&] { loaded = job->DownloadBootData(); }), "");
    EXPECT_TRUE(loaded);

    auto empty = Job(0x30001);
    EXPECT_EQ(Captured([&] { loaded = empty->DownloadBootData(); }), "");
    EXPECT_TRUE(loaded);
}

// Without an open board the loader step must fail and name the loader.
TEST_F(ConnectionJob, ASelectedLoaderThatCannotBeLoadedFailsTheStep)
{
    PartitionItem loader;
    loader.sel = true;
    loader.selectFile = "loader.bin";
    auto job = Job(0x30001, {loader});
    bool loaded = true;
    const std::string out = Captured([&] { loaded = job->DownloadBootData(); });
    EXPECT_FALSE(loaded);
    EXPECT_NE(out.find("\nerror: Burn loader.bin failed!\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("successfully"), std::string::npos) << out;
}

} // namespace
