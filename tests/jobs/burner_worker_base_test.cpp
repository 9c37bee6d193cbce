// The job base without a board: overall progress across images, the package
// test by flag, the settling time of the verification, the board commands'
// argument handling and the results of operations a job does not support.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "jobs/burner_worker_base.h"

using BurnInfo::BurnContext;
using BurnInfo::PartitionItem;

namespace {

PartitionItem Row(bool sel, int64_t fileSize, const std::string& file = "")
{
    PartitionItem row;
    row.sel = sel;
    row.fileSize = fileSize;
    row.selectFile = file;
    return row;
}

std::unique_ptr<BurnContext> MakeContext(const std::vector<PartitionItem>& rows)
{
    auto context = std::make_unique<BurnContext>("/nonexistent-installation/");
    context->SetChipType(0x30004);
    context->SetChipName("vb27");
    context->SetPartitionInfo(rows);
    return context;
}

// Reports per-file percentages as the device library would and returns the lines printed.
std::string Report(const std::vector<int>& percents)
{
    testing::internal::CaptureStdout();
    for (int percent : percents) {
        BurnerWorkerBase::SetProgress(0, percent);
    }
    return testing::internal::GetCapturedStdout();
}

class TempDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-jobs-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern + "/";
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        const std::string path = m_dir + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    std::string m_dir;
};

} // namespace

// --- overall progress ---------------------------------------------------------

class OverallProgressTest : public ::testing::Test {
protected:
    void Start(const std::vector<PartitionItem>& rows, bool printing = true)
    {
        m_job = std::make_unique<BurnerWorkerBase>(MakeContext(rows));
        BurnerWorkerBase::m_isPrintProgress = printing;
    }
    std::unique_ptr<BurnerWorkerBase> m_job;
};

TEST_F(OverallProgressTest, TwoImagesOf100And300BytesGiveTheDocumentedFigures)
{
    Start({Row(true, 100), Row(true, 300)});
    EXPECT_EQ(BurnerWorkerBase::m_totalLength, 400u);
    EXPECT_EQ(Report({50}), "Progress: 12%\n");
    EXPECT_EQ(Report({100}), "Progress: 25%\n");
    EXPECT_EQ(Report({50}), "Progress: 62%\n");
    EXPECT_EQ(Report({100}), "Progress: 100%\n");
}

TEST_F(OverallProgressTest, DeselectedRowsDoNotCount)
{
    Start({Row(true, 100), Row(false, 1000), Row(true, 300)});
    EXPECT_EQ(BurnerWorkerBase::m_partSizeList, (std::vector<uint64_t>{100, 300}));
    EXPECT_EQ(Report({100, 100}), "Progress: 25%\nProgress: 100%\n");
}

TEST_F(OverallProgressTest, WithoutRowsOrSizesThePerFilePercentageIsShownUnchanged)
{
    Start({});
    EXPECT_EQ(Report({37, 100}), "Progress: 37%\nProgress: 100%\n");
    Start({Row(true, 0), Row(true, 0)});
    EXPECT_EQ(Report({42}), "Progress: 42%\n");
}

TEST_F(OverallProgressTest, NothingIsPrintedOutsideTheGenericFlow)
{
    Start({Row(true, 100)}, false);
    EXPECT_EQ(Report({50, 100}), "");
    EXPECT_EQ(BurnerWorkerBase::m_partIndex, 0u) << "a silent report must not advance the image";
}

TEST_F(OverallProgressTest, MoreFinishedFilesThanRowsStayAtTheEndOfTheList)
{
    // A deselected loader is still transferred: the library reports one file more.
    Start({Row(false, 50), Row(true, 100), Row(true, 300)});
    EXPECT_EQ(Report({100, 100}), "Progress: 25%\nProgress: 100%\n");
    EXPECT_EQ(Report({50, 100, 100}), "Progress: 100%\nProgress: 100%\nProgress: 100%\n");
    EXPECT_EQ(BurnerWorkerBase::m_partIndex, BurnerWorkerBase::m_partSizeList.size());
    EXPECT_EQ(BurnerWorkerBase::m_sentSize, 400u);
}

TEST_F(OverallProgressTest, LargeImagesDoNotOverflowTheProduct)
{
    const int64_t big = int64_t{3} * 1024 * 1024 * 1024;  // 3 GiB
    Start({Row(true, big), Row(true, big)});
    EXPECT_EQ(Report({50}), "Progress: 25%\n");
    EXPECT_EQ(Report({100, 100}), "Progress: 50%\nProgress: 100%\n");
}

// --- package flag ---------------------------------------------------------------

class AllinoneFileTest : public TempDir {
protected:
    bool IsPackage(const std::vector<uint8_t>& bytes)
    {
        BurnerWorkerBase job(MakeContext({}));
        return job.IsAllinoneFile(Write("file.bin", bytes).c_str());
    }
};

TEST_F(AllinoneFileTest, TheFlagIsReadLittleEndian)
{
    EXPECT_TRUE(IsPackage({0xDF, 0xAD, 0xBE, 0xEF, 0x00, 0x00}));
    EXPECT_FALSE(IsPackage({0xEF, 0xBE, 0xAD, 0xDF, 0x00, 0x00})) << "file order EF BE AD DF is not the flag";
}

TEST_F(AllinoneFileTest, NewLayoutFlagsAreNotRecognised)
{
    EXPECT_FALSE(IsPackage({0xD0, 0xAD, 0xBE, 0xEF}));
    EXPECT_FALSE(IsPackage({0xFF, 0xAD, 0xBE, 0xEF}));
}

TEST_F(AllinoneFileTest, ShortMissingAndNullFilesAreNotPackages)
{
    EXPECT_TRUE(IsPackage({0xDF, 0xAD, 0xBE, 0xEF})) << "the flag alone is enough";
    EXPECT_FALSE(IsPackage({0xDF, 0xAD, 0xBE}));
    EXPECT_FALSE(IsPackage({}));
    BurnerWorkerBase job(MakeContext({}));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(job.IsAllinoneFile((m_dir + "missing.fwpkg").c_str()));
    EXPECT_FALSE(job.IsAllinoneFile(nullptr));
    testing::internal::GetCapturedStdout();
}

// --- verification settling time ---------------------------------------------------

TEST(VerificationSettleTimeTest, OneStepForEveryStartedBlockOf20480Bytes)
{
    EXPECT_EQ(BurnerWorkerBase::VerificationSettleTime(0), 0u);
    EXPECT_EQ(BurnerWorkerBase::VerificationSettleTime(1), 1000u);
    EXPECT_EQ(BurnerWorkerBase::VerificationSettleTime(20480), 1000u);
    EXPECT_EQ(BurnerWorkerBase::VerificationSettleTime(20481), 2000u);
    EXPECT_EQ(BurnerWorkerBase::VerificationSettleTime(0xFFFFFFFFu), 209716ull * 1000u)
        << "the largest image must not wrap";
}

// --- operations without a board ----------------------------------------------------

class JobWithoutBoardTest : public ::testing::Test {
protected:
    std::unique_ptr<BurnerWorkerBase> Job(const std::string& port = "/nonexistent/tarnwick-port")
    {
        auto context = MakeContext({Row(true, 10, "loader.bin")});
        context->SetTransportWay(BurnInfo::TransportWay::SERIAL);
        context->SetSerialPort(port);
        return std::make_unique<BurnerWorkerBase>(std::move(context));
    }
};

TEST_F(JobWithoutBoardTest, UnsupportedEraseAndReadAreFailures)
{
    auto job = Job();
    testing::internal::CaptureStdout();
    const int erase = job->Erase();
    const int read = job->Read();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(erase, BurnInfo::SUCCESS);
    EXPECT_NE(read, BurnInfo::SUCCESS);
    EXPECT_NE(out.find("chip: vb27 does not support the erase function.\n"), std::string::npos) << out;
    EXPECT_NE(out.find("chip: vb27 does not support the read function.\n"), std::string::npos) << out;
}

TEST_F(JobWithoutBoardTest, AnUnopenablePortEndsTheBurnWithTheOpenMessage)
{
    auto job = Job();
    testing::internal::CaptureStdout();
    const int result = job->Burn();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, BurnInfo::INIT_TRANSFER_WAY_FAILED);
    EXPECT_EQ(job->GetDeviceHandle(), nullptr);
    // The device library may add its own detail between the lines.
    for (const char* line : {"Please reset the device, the waiting time is about 30 seconds.\n",
                             "error: Open serial port :/nonexistent/tarnwick-port failed, It may be caused by the "
                             "following reasons:\n1. Serial port is occupied or does not exist.\n"
                             "2. Check baud rate, stop bits, parity is correct.\n"}) {
        EXPECT_NE(out.find(line), std::string::npos) << out;
    }
    EXPECT_EQ(out.find("Progress"), std::string::npos) << "nothing may be burned without a port";
}

TEST_F(JobWithoutBoardTest, AnUnchosenTransportIsRefused)
{
    auto context = MakeContext({});
    BurnerWorkerBase job(std::move(context));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(job.InitTransport());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "error: Unknow transport!\n");
}

TEST_F(JobWithoutBoardTest, RebootWithFlagZeroSendsNothing)
{
    auto job = Job();
    testing::internal::CaptureStdout();
    EXPECT_EQ(job->RebootMcu(), BurnInfo::SUCCESS);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(JobWithoutBoardTest, BoardCommandsWithoutAHandleFailWithTheirMessages)
{
    auto job = Job();
    testing::internal::CaptureStdout();
    EXPECT_FALSE(job->Go(0x1000));
    EXPECT_FALSE(job->SendEraseCmd(0x80000000ul, 16));
    EXPECT_FALSE(job->ResetBySerial());
    EXPECT_FALSE(job->ResetBoard());
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("\nerror: erase -2147483648 failed!\n"), std::string::npos)
        << "the address is shown as a signed decimal: " << out;
    EXPECT_NE(out.find("error: Reset board failed.\n"), std::string::npos) << out;
    const size_t sent = out.find("\nSend command: reset\n");
    ASSERT_NE(sent, std::string::npos) << out;
    EXPECT_NE(out.find("reset failed!\n", sent), std::string::npos) << out;
}

TEST_F(JobWithoutBoardTest, XmlBurnsAreNotSupportedByTheBase)
{
    auto job = Job();
    testing::internal::CaptureStdout();
    EXPECT_EQ(job->BurnTargetBinByXml(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "chip: vb27 does not support burn targetbin by xml.\n");
}
