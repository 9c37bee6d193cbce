// Burn verification against a simulated Vb27 board running its loader: the
// flash region is read back into upload.bin and compared with the image; the
// read-back file stays after a mismatch and goes away after a match.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/fwpkg_builder.h"
#include "support/sim_launcher.h"
#include "support/test_files.h"
#include "jobs/burner_worker_base.h"

using namespace TestSupport;

namespace {

namespace fs = std::filesystem;

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
        ASSERT_TRUE(m_temp.Ok());
        m_flash = Pattern(0x40000, 7);
        ASSERT_TRUE(WriteFile(m_dir + "flash.bin", m_flash));
        m_sim = std::make_unique<SimProcess>(
            std::vector<std::string>{"--family", "vb27", "--flash", m_dir + "flash.bin"});
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
        WriteFile(package, BuildPackage({{"loader.bin", 0, 0, 0, Pattern(4096, 3)}}));
        SetIsOnlyBurnLoader(1);
        const int loaded = DownloadAllinoneBin(m_job->GetDeviceHandle(), package.c_str(), 0);
        SetIsOnlyBurnLoader(0);
        const std::string out = testing::internal::GetCapturedStdout();
        ASSERT_EQ(loaded, 1) << out;
    }

    // Writes `length` bytes of the flash from `from` as the image and verifies it at `address`.
    int Verify(uint32_t from, size_t length, uint32_t address, int flipLast = 0)
    {
        Bytes bytes(m_flash.begin() + from, m_flash.begin() + from + static_cast<std::ptrdiff_t>(length));
        bytes.back() = static_cast<uint8_t>(bytes.back() ^ flipLast);
        WriteFile(Image(), bytes);
        testing::internal::CaptureStdout();
        const int result = m_job->BurnVerification(Image().c_str(), address);
        m_out = testing::internal::GetCapturedStdout();
        return result;
    }

    std::string Image() const { return m_dir + "image.bin"; }
    std::string Upload() const { return m_dir + "upload.bin"; }

    TempDir m_temp{"tarnwick-verify"};
    std::string m_dir = m_temp.Path() + "/";
    std::unique_ptr<SimProcess> m_sim;
    Bytes m_flash;
    std::unique_ptr<VerifyingJob> m_job;
    std::string m_out;
};

}  // namespace

TEST_F(BurnVerificationTest, OnlyTheImageAtItsOwnAddressPassesAndOnlyAMismatchKeepsTheReadBackFile)
{
    EXPECT_EQ(Verify(0x3000, 20481, 0x3000, 0x01), BurnInfo::BURN_CHECK_FAILED) << "the very last byte differs";
    EXPECT_NE(m_out.find("\nThe bytes of file " + Image() + " and file " + Upload() + " are different.\n"),
              std::string::npos)
        << m_out;
    ASSERT_TRUE(fs::exists(Upload()));
    EXPECT_EQ(fs::file_size(Upload()), 20481u);

    EXPECT_EQ(Verify(0x1000, 4096, 0x2000), BurnInfo::BURN_CHECK_FAILED) << m_out;
    EXPECT_EQ(Verify(0x1000, 50000, 0x1000), BurnInfo::SUCCESS)
        << "the board still answers after failed checks: " << m_out;
    EXPECT_FALSE(fs::exists(Upload()));
}
