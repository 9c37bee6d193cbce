// Burn verification against a simulated Vb27 board running its loader: the
// flash region is read back into upload.bin and compared with the image; the
// read-back file goes away after a match and stays after a mismatch.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/fwpkg_builder.h"
#include "support/sim_launcher.h"
#include "jobs/burner_worker_base.h"

using namespace TestSupport;

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t REGION = 0x20000;

void Write(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

class VerifyingJob : public BurnerWorkerBase {
public:
    using BurnerWorkerBase::BurnerWorkerBase;
    // The read-back file is complete when the library returns; tests need not wait for it.
    void WithoutSettling() { m_settleStepMs = 0; }
};

class BurnVerificationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!fs::exists(SimPath())) {
            GTEST_SKIP() << "build the tarnwick-sim target first: " << SimPath();
        }
        std::string pattern = (fs::temp_directory_path() / "tarnwick-verify-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern + "/";
        m_flash = Pattern(REGION * 2, 7);
        Write(m_dir + "flash.bin", m_flash);
        m_sim = std::make_unique<SimProcess>(std::vector<std::string>{"--family", "vb27", "--flash", m_dir + "flash.bin"});
        ASSERT_TRUE(m_sim->Ok()) << "tarnwick-sim did not name its port";

        auto context = std::make_unique<BurnInfo::BurnContext>(m_dir);
        context->SetChipType(0x30004);
        context->SetChipName("vb27");
        context->SetTransportWay(BurnInfo::TransportWay::SERIAL);
        context->SetSerialPort(m_sim->Port());
        m_job = std::make_unique<VerifyingJob>(std::move(context));
        m_job->WithoutSettling();
        testing::internal::CaptureStdout();
        ASSERT_TRUE(m_job->InitTransport());
        const std::string package = m_dir + "loader.fwpkg";
        Write(package, BuildPackage({{"loader.bin", 0, 0, 0, Pattern(4096, 3)}}));
        SetIsOnlyBurnLoader(1);
        const int loaded = DownloadAllinoneBin(m_job->GetDeviceHandle(), package.c_str(), 0);
        SetIsOnlyBurnLoader(0);
        const std::string out = testing::internal::GetCapturedStdout();
        ASSERT_EQ(loaded, 1) << out;
    }

    void TearDown() override
    {
        m_job.reset();
        m_sim.reset();
        std::error_code ignored;
        if (!m_dir.empty()) {
            fs::remove_all(m_dir, ignored);
        }
    }

    int Verify(const std::string& image, uint32_t address)
    {
        testing::internal::CaptureStdout();
        const int result = m_job->BurnVerification(image.c_str(), address);
        m_out = testing::internal::GetCapturedStdout();
        return result;
    }

    std::string Upload() const { return m_dir + "upload.bin"; }

    std::string m_dir;
    std::unique_ptr<SimProcess> m_sim;
    Bytes m_flash;
    std::unique_ptr<VerifyingJob> m_job;
    std::string m_out;
};

}  // namespace

TEST_F(BurnVerificationTest, AnImageEqualToItsFlashRegionPassesAndTheReadBackFileGoes)
{
    const uint32_t address = 0x1000;
    const std::string image = m_dir + "image.bin";
    Write(image, Bytes(m_flash.begin() + address, m_flash.begin() + address + 50000));
    EXPECT_EQ(Verify(image, address), BurnInfo::SUCCESS) << m_out;
    EXPECT_FALSE(fs::exists(Upload()));
}

TEST_F(BurnVerificationTest, OneDifferentByteFailsAndKeepsTheReadBackFile)
{
    const uint32_t address = 0x3000;
    Bytes bytes(m_flash.begin() + address, m_flash.begin() + address + 20481);
    bytes[20480] ^= 0x01;  // the very last byte
    const std::string image = m_dir + "image.bin";
    Write(image, bytes);
    EXPECT_EQ(Verify(image, address), BurnInfo::BURN_CHECK_FAILED);
    EXPECT_NE(m_out.find("\nThe bytes of file " + image + " and file " + Upload() + " are different.\n"),
              std::string::npos)
        << m_out;
    ASSERT_TRUE(fs::exists(Upload()));
    EXPECT_EQ(fs::file_size(Upload()), 20481u);
}

TEST_F(BurnVerificationTest, TheSameImageAtAnotherAddressFails)
{
    const std::string image = m_dir + "image.bin";
    Write(image, Bytes(m_flash.begin() + 0x1000, m_flash.begin() + 0x1000 + 4096));
    EXPECT_EQ(Verify(image, 0x2000), BurnInfo::BURN_CHECK_FAILED) << m_out;
    EXPECT_EQ(Verify(image, 0x1000), BurnInfo::SUCCESS) << "the board still answers after a failed check: " << m_out;
}
