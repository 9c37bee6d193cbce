// The TypeSix job apart from a board: which image types it burns and with
// which file type, the rate it hands to the chip object, the operations it
// does not offer, and the packages it refuses before the port is touched.
// Burning itself is exercised end to end against the simulated board.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/checksum.h"
#include "jobs/typesix_burner_worker.h"

using BurnInfo::BurnContext;

namespace {

constexpr const char* ABSENT_PORT = "/nonexistent/tarnwick-port";

class TypeSixJob : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = ::testing::TempDir() + "typesix_job_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::unique_ptr<TypeSixBurnerWorker> Job(int baud = BurnInfo::DEFAULT_BAUD_RATE, const std::string& package = "")
    {
        auto context = std::make_unique<BurnContext>(m_dir);
        context->SetChipType(BurnInfo::TYPESIX_CHIP_TYPE);
        context->SetChipName("typesix");
        context->SetTransportWay(BurnInfo::TransportWay::SERIAL);
        context->SetSerialPort(ABSENT_PORT);
        context->SetBaudRate(baud);
        context->SetFilePath(package);
        return std::make_unique<TypeSixBurnerWorker>(std::move(context));
    }

    template <typename F>
    std::string Captured(F run)
    {
        testing::internal::CaptureStdout();
        run();
        return testing::internal::GetCapturedStdout();
    }

    std::string m_dir;
};

TEST(TypeSixImageTypes, ApplicationAndFlashTypesMapToTheirFileTypes)
{
    const std::vector<std::pair<uint32_t, int>> mapped{{18, 2}, {20, 0},   {11, 1},    {26, 4},
                                                       {100, 100}, {101, 101}, {4, 4}, {104, 104}};
    for (const auto& [imageType, fileType] : mapped) {
        int got = -1;
        EXPECT_TRUE(TypeSixBurnerWorker::MapFileType(imageType, got)) << imageType;
        EXPECT_EQ(got, fileType) << imageType;
    }
    for (uint32_t skipped : {0u, 1u, 16u, 22u, 24u, 28u, 29u, 102u, 103u, 0xFFFFFFFFu}) {
        int got = -1;
        EXPECT_FALSE(TypeSixBurnerWorker::MapFileType(skipped, got)) << skipped;
    }
}

TEST(TypeSixImageTypes, LoadersAndUnpackOnlyTypesAreNotHandedToImageBurning)
{
    for (uint32_t type : {0u, 16u, 28u, 29u}) {
        EXPECT_FALSE(TypeSixBurnerWorker::IsBurnedAsImage(type)) << type;
    }
    // Handed over and skipped there, or burned.
    for (uint32_t type : {22u, 24u, 102u, 20u, 100u, 1u}) {
        EXPECT_TRUE(TypeSixBurnerWorker::IsBurnedAsImage(type)) << type;
    }
}

TEST_F(TypeSixJob, TheRateOfTheContextIsWhatTheImageTransfersUse)
{
    EXPECT_EQ(Job()->TransferBaudRate(), 115200u);
    EXPECT_EQ(Job(921600)->TransferBaudRate(), 921600u);
    EXPECT_EQ(Job(3000000)->TransferBaudRate(), 3000000u);
    // "-b" takes atoi: a rate that is no number stays at the ROM's.
    EXPECT_EQ(Job(0)->TransferBaudRate(), 115200u);
    EXPECT_EQ(Job(-9600)->TransferBaudRate(), 115200u);
}

TEST_F(TypeSixJob, EraseAndReadSayTheyAreNotOfferedAndFail)
{
    auto job = Job();
    int result = 0;
    EXPECT_EQ(Captured([&] { result = job->Erase(); }), "chip: typesix does not support the erase function.\n");
    EXPECT_EQ(result, BurnInfo::ERASE_FAILED);
    EXPECT_EQ(Captured([&] { result = job->Read(); }), "chip: typesix does not support the read function.\n");
    EXPECT_EQ(result, BurnInfo::READ_PARTITION_FAILED);
    EXPECT_EQ(job->GetDeviceHandle(), nullptr) << "no port is opened for them";
}

TEST_F(TypeSixJob, APortThatCannotBeOpenedEndsTheBurnWithResultThree)
{
    auto job = Job(115200, m_dir + "fw.fwpkg");
    int result = 0;
    const std::string out = Captured([&] { result = job->Burn(); });
    EXPECT_EQ(result, BurnInfo::INIT_TRANSFER_WAY_FAILED);
    EXPECT_EQ(out.rfind("Please reset the device, the waiting time is about 30 seconds.\n", 0), 0u) << out;
    EXPECT_NE(out.find(std::string("error: Open serial port :") + ABSENT_PORT +
                       " failed, It may be caused by the following reasons:\n"
                       "1. Serial port is occupied or does not exist.\n"
                       "2. Check baud rate, stop bits, parity is correct.\n"),
              std::string::npos)
        << out;
    EXPECT_FALSE(std::filesystem::exists(m_dir + "fw_extract")) << "the package is not touched";
}

TEST_F(TypeSixJob, WithoutAPackageNothingIsListed)
{
    auto job = Job();
    bool burned = true;
    EXPECT_EQ(Captured([&] { burned = job->BurnPartitions(); }), "error: No fwpkg file specified!\n");
    EXPECT_FALSE(burned);
}

// A loader of 65535 packets of 4096 bytes plus one byte cannot be numbered.
// The package is sparse, so the test writes almost nothing.
TEST_F(TypeSixJob, ALoaderThatNeedsMoreThan65535PacketsIsRefusedBeforeUnpacking)
{
    constexpr uint32_t HEADER = 12;
    constexpr uint32_t ENTRY = 52;
    const uint32_t length = 65535u * 4096u + 1u;
    std::vector<uint8_t> table(HEADER + ENTRY, 0);
    auto le32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            table[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
        }
    };
    le32(0, 0xEFBEADDF);
    table[6] = 1;
    const char name[] = "loader.bin";
    std::copy(name, name + sizeof(name) - 1, table.begin() + HEADER);
    le32(HEADER + 32, HEADER + ENTRY);
    le32(HEADER + 36, length);
    const uint16_t crc = Common::SopCrc16(table.data() + 6, static_cast<uint32_t>(table.size() - 6));
    table[4] = static_cast<uint8_t>(crc);
    table[5] = static_cast<uint8_t>(crc >> 8);

    const std::string package = m_dir + "big.fwpkg";
    std::FILE* file = std::fopen(package.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(table.data(), 1, table.size(), file), table.size());
    std::fclose(file);
    std::filesystem::resize_file(package, HEADER + ENTRY + static_cast<uint64_t>(length));

    auto job = Job(115200, package);
    bool burned = true;
    EXPECT_EQ(Captured([&] { burned = job->BurnPartitions(); }),
              "error: Loader loader.bin of 268431361 bytes needs more than 65535 packets of 4096 bytes.\n");
    EXPECT_FALSE(burned);
    EXPECT_FALSE(std::filesystem::exists(m_dir + "big_extract"));
}

} // namespace
