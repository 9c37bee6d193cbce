// The Vb27/Qn4180 job before it touches a board: the read refuses to run
// without an output file and size, and never writes over its package; the
// factory hands out the job of each chip type.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "jobs/burner_worker_factory.h"
#include "jobs/qn4180_burner_worker.h"
#include "jobs/vb27_burner_worker.h"

using BurnInfo::BurnContext;

namespace {

constexpr const char* ABSENT_PORT = "/nonexistent/tarnwick-port";
constexpr const char* OPEN_FAILED = "error: Open serial port";

class ReadTargetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-read-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern + "/";
        m_package = m_dir + "board.fwpkg";
        std::ofstream(m_package, std::ios::binary) << "package bytes that must survive";
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }

    // Runs Read with the given output file and size against a port that does
    // not exist: a read that passed its checks fails at opening the port.
    int Read(const std::string& output, int size)
    {
        auto context = std::make_unique<BurnContext>(m_dir);
        context->SetChipType(0x30004);
        context->SetChipName("vb27");
        context->SetTransportWay(BurnInfo::TransportWay::SERIAL);
        context->SetSerialPort(ABSENT_PORT);
        context->SetFilePath(m_package);
        context->SetReadFile(output);
        context->SetReadSize(size);
        Vb27BurnerWorkerSp::Vb27BurnerWorker job(std::move(context));
        testing::internal::CaptureStdout();
        const int result = job.Read();
        m_out = testing::internal::GetCapturedStdout();
        return result;
    }

    std::string PackageContent() const
    {
        std::ifstream in(m_package, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::string m_dir;
    std::string m_package;
    std::string m_out;
};

} // namespace

TEST_F(ReadTargetTest, AReadWithoutOutputFileIsRefusedBeforeThePortIsOpened)
{
    EXPECT_EQ(Read("", 4096), BurnInfo::PARAM_ERROR);
    EXPECT_NE(m_out.find("error: No output file for the read: give it with -readfile:PATH\n"), std::string::npos)
        << m_out;
    EXPECT_EQ(m_out.find(OPEN_FAILED), std::string::npos) << m_out;
}

TEST_F(ReadTargetTest, AReadOfZeroBytesIsRefused)
{
    EXPECT_EQ(Read(m_dir + "out.bin", 0), BurnInfo::PARAM_ERROR);
    EXPECT_NE(m_out.find("error: Nothing to read: give the number of bytes with -readsize:N\n"), std::string::npos)
        << m_out;
    EXPECT_EQ(m_out.find(OPEN_FAILED), std::string::npos) << m_out;
}

TEST_F(ReadTargetTest, TheOutputMayNotBeThePackageUnderAnyName)
{
    std::filesystem::create_directories(m_dir + "sub");
    std::filesystem::create_symlink(m_package, m_dir + "link.fwpkg");
    std::filesystem::create_hard_link(m_package, m_dir + "hard.fwpkg");
    for (const std::string& output :
         {m_package, m_dir + "sub/../board.fwpkg", m_dir + "./board.fwpkg", m_dir + "link.fwpkg",
          m_dir + "hard.fwpkg"}) {
        EXPECT_EQ(Read(output, 4096), BurnInfo::PARAM_ERROR) << output;
        EXPECT_NE(m_out.find("is the package"), std::string::npos) << output << ": " << m_out;
        EXPECT_EQ(m_out.find(OPEN_FAILED), std::string::npos) << m_out;
    }
    EXPECT_EQ(PackageContent(), "package bytes that must survive");
}

TEST_F(ReadTargetTest, AnotherOutputFilePassesTheChecks)
{
    EXPECT_EQ(Read(m_dir + "flash.bin", 4096), BurnInfo::INIT_TRANSFER_WAY_FAILED);
    EXPECT_NE(m_out.find(OPEN_FAILED), std::string::npos) << m_out;
    EXPECT_FALSE(std::filesystem::exists(m_dir + "flash.bin"));
}

// --- factory -------------------------------------------------------------------

class FactoryTest : public ::testing::Test {
protected:
    std::unique_ptr<BurnerWorkerBase> Create(int chipType)
    {
        auto context = std::make_unique<BurnContext>("/nonexistent-installation/");
        context->SetChipType(chipType);
        testing::internal::CaptureStdout();
        auto job = Jobs::CreateBurnerWorker(chipType, std::move(context));
        m_out = testing::internal::GetCapturedStdout();
        return job;
    }
    std::string m_out;
};

TEST_F(FactoryTest, Vb27AndQn4180ChipTypesGetTheirJobs)
{
    auto vb27 = Create(0x30004);
    ASSERT_NE(vb27, nullptr);
    EXPECT_NE(dynamic_cast<Vb27BurnerWorkerSp::Vb27BurnerWorker*>(vb27.get()), nullptr);
    EXPECT_EQ(dynamic_cast<Qn4180BurnerWorkerSp::Qn4180BurnerWorker*>(vb27.get()), nullptr);
    EXPECT_EQ(BurnChipBase::m_chipType, 0x30004u) << "the job selects its chip type in the device library";

    auto qn4180 = Create(0x30005);
    ASSERT_NE(qn4180, nullptr);
    EXPECT_NE(dynamic_cast<Qn4180BurnerWorkerSp::Qn4180BurnerWorker*>(qn4180.get()), nullptr);
    EXPECT_EQ(BurnChipBase::m_chipType, 0x30005u);
    EXPECT_EQ(m_out, "");
}

TEST_F(FactoryTest, OtherChipTypesDoNotGetTheVb27Job)
{
    for (int chipType : {0x30002, 0x30001, 0x300FF}) {
        auto job = Create(chipType);
        EXPECT_EQ(dynamic_cast<Vb27BurnerWorkerSp::Vb27BurnerWorker*>(job.get()), nullptr) << chipType;
    }
}
