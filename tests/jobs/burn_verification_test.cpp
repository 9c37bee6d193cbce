// Burn verification against a simulated Vb27 board running its loader: the
// flash region is read back into upload.bin and compared with the image; the
// read-back file goes away after a match and stays after a mismatch.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/checksum.h"
#include "jobs/burner_worker_base.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t REGION = 0x20000;

Bytes Pattern(size_t length, uint32_t seed)
{
    Bytes bytes(length);
    for (size_t i = 0; i < length; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<uint8_t>(seed >> 16);
    }
    return bytes;
}

void Write(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

void PutLe32(Bytes& bytes, size_t offset, uint32_t value)
{
    for (size_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

// A package holding only a loader: 12-byte header, one 52-byte entry, the loader.
Bytes LoaderPackage(const Bytes& loader)
{
    const size_t tableEnd = 12 + 52;
    Bytes package(tableEnd + loader.size(), 0);
    PutLe32(package, 0, 0xEFBEADDF);
    package[6] = 1;
    std::memcpy(package.data() + 12, "loader.bin", 10);
    PutLe32(package, 12 + 32, static_cast<uint32_t>(tableEnd));
    PutLe32(package, 12 + 36, static_cast<uint32_t>(loader.size()));
    std::memcpy(package.data() + tableEnd, loader.data(), loader.size());
    const uint16_t crc = Common::SopCrc16(package.data() + 6, static_cast<uint32_t>(tableEnd - 6));
    package[4] = static_cast<uint8_t>(crc);
    package[5] = static_cast<uint8_t>(crc >> 8);
    return package;
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
        const std::string sim = std::string(TARNWICK_BIN_DIR) + "/tarnwick-sim";
        if (!fs::exists(sim)) {
            GTEST_SKIP() << "build the tarnwick-sim target first: " << sim;
        }
        std::string pattern = (fs::temp_directory_path() / "tarnwick-verify-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern + "/";
        m_flash = Pattern(REGION * 2, 7);
        Write(m_dir + "flash.bin", m_flash);
        StartSim(sim);
        ASSERT_FALSE(m_port.empty()) << "tarnwick-sim did not name its port";

        auto context = std::make_unique<BurnInfo::BurnContext>(m_dir);
        context->SetChipType(0x30004);
        context->SetChipName("vb27");
        context->SetTransportWay(BurnInfo::TransportWay::SERIAL);
        context->SetSerialPort(m_port);
        m_job = std::make_unique<VerifyingJob>(std::move(context));
        m_job->WithoutSettling();
        testing::internal::CaptureStdout();
        ASSERT_TRUE(m_job->InitTransport());
        const std::string package = m_dir + "loader.fwpkg";
        Write(package, LoaderPackage(Pattern(4096, 3)));
        SetIsOnlyBurnLoader(1);
        const int loaded = DownloadAllinoneBin(m_job->GetDeviceHandle(), package.c_str(), 0);
        SetIsOnlyBurnLoader(0);
        const std::string out = testing::internal::GetCapturedStdout();
        ASSERT_EQ(loaded, 1) << out;
    }

    void TearDown() override
    {
        m_job.reset();
        if (m_sim > 0) {
            kill(m_sim, SIGTERM);
            waitpid(m_sim, nullptr, 0);
        }
        std::error_code ignored;
        if (!m_dir.empty()) {
            fs::remove_all(m_dir, ignored);
        }
    }

    void StartSim(const std::string& program)
    {
        std::vector<std::string> storage{program, "--family", "vb27", "--flash", m_dir + "flash.bin"};
        std::vector<char*> argv;
        for (std::string& s : storage) {
            argv.push_back(s.data());
        }
        argv.push_back(nullptr);
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        m_sim = fork();
        if (m_sim == 0) {
            dup2(fds[1], STDOUT_FILENO);
            close(fds[0]);
            close(fds[1]);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        pollfd fd{fds[0], POLLIN, 0};
        char c = 0;
        while (poll(&fd, 1, 30000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') {
            m_port += c;
        }
        close(fds[0]);
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
    std::string m_port;
    pid_t m_sim = -1;
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
