// The Vb27 and Qn4180 chip objects against a scripted boot ROM on a
// pseudo-terminal: handshake, command frames with their ACKs, images sent with
// YMODEM, erase, read-back, and the failures a factory line meets.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

#include "device/burn_qn4180_chip.h"
#include "device/burn_vb27_chip.h"
#include "device/device_library.h"
#include "vb27_board_peer.h"

namespace {

using Vb27Peer::BoardPeer;
using Vb27Peer::Bytes;
using Vb27Peer::Command;
using Vb27Peer::PackageImage;
using Vb27Peer::ReceivedFile;

std::string g_log;

void CapturePrint(long long, const char*, const char* message, const char*, int)
{
    g_log += message;
}

Bytes Join(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Bytes ACK_OK = Vb27Peer::AckFrame(0x5A);
const Bytes ACK_THEN_C = Join(ACK_OK, {'C'});

class TempDir {
public:
    TempDir()
    {
        char pattern[] = "/tmp/vb27-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        m_path = made != nullptr ? made : "/tmp";
    }
    ~TempDir() { std::system(("rm -rf '" + m_path + "'").c_str()); }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Answers the handshake and takes one image sent after the board's 'C'.
bool HandshakeAndLoader(BoardPeer& board, const Bytes& loader, uint32_t expectedBaud)
{
    Command handshake;
    if (!board.NextCommand(handshake, false)) {
        return false;
    }
    EXPECT_EQ(handshake.code, 0xF0);
    EXPECT_EQ(handshake.U32(0), expectedBaud);
    EXPECT_EQ(Bytes(handshake.params.begin() + 4, handshake.params.end()), (Bytes{0x08, 0x01, 0x00, 0x00}));
    board.Write(ACK_THEN_C);
    ReceivedFile file;
    if (!board.ReceiveYmodemFile(file)) {
        return false;
    }
    EXPECT_EQ(file.name, "loader.bin");
    EXPECT_EQ(file.frameDataSize, 1024u) << "the loader always goes in 1 KiB frames";
    EXPECT_EQ(file.data, loader);
    board.Write(ACK_OK);
    return true;
}

class Vb27ChipOverPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_log.clear();
        RegisterCallback(CapturePrint, nullptr, nullptr);
        SetPacketSize(1024);
        SetIsOnlyBurnLoader(0);
        ASSERT_TRUE(m_pty.Ok());
    }

    void TearDown() override
    {
        JoinBoard();
        DestroyDevice(m_handle);
        RegisterCallback(nullptr, nullptr, nullptr);
        SetPacketSize(1024);
        SetIsOnlyBurnLoader(0);
    }

    BurnVb27ChipSp::BurnVb27Chip* Open(uint32_t chipType, uint32_t baud = 115200)
    {
        SetChipType(chipType);
        m_handle = OpenSerialPort(m_pty.SlavePath().c_str(), baud, 0, 0);
        return dynamic_cast<BurnVb27ChipSp::BurnVb27Chip*>(m_handle);
    }

    void RunBoard(std::function<void(BoardPeer&)> script)
    {
        m_board = std::thread([this, script] {
            BoardPeer peer(m_pty.Master());
            script(peer);
            m_boardError = peer.Error();
        });
    }

    void JoinBoard()
    {
        if (m_board.joinable()) {
            m_board.join();
        }
    }

    std::string Package(const std::vector<PackageImage>& images)
    {
        const std::string path = m_dir.File("pkg.fwpkg");
        WriteFile(path, Vb27Peer::BuildPackage(images));
        return path;
    }

    Vb27Peer::PtyPair m_pty;
    TempDir m_dir;
    DeviceHandle m_handle = nullptr;
    std::thread m_board;
    std::string m_boardError;
};

const Bytes LOADER = Vb27Peer::PatternBytes(1500, 1);
const Bytes APP = Vb27Peer::PatternBytes(5000, 2);
const PackageImage LOADER_IMAGE = {"loader.bin", 0, 0, 0x10000, LOADER};
const PackageImage APP_IMAGE = {"app.bin", 1, 0x10000, 4097, APP};

TEST_F(Vb27ChipOverPty, BurnsLoaderThenImageWithItsCommandFrame)
{
    SetPacketSize(4096);
    ASSERT_NE(Open(CHIP_TYPE_VB27, 921600), nullptr);
    const std::string package = Package({LOADER_IMAGE, APP_IMAGE});
    RunBoard([](BoardPeer& board) {
        if (!HandshakeAndLoader(board, LOADER, 921600)) {
            return;
        }
        Command command;
        if (!board.NextCommand(command)) {
            return;
        }
        EXPECT_EQ(command.code, 0xD2);
        EXPECT_EQ(command.raw.size(), 24u);
        EXPECT_EQ(command.U32(0), 0x10000u);
        EXPECT_EQ(command.U32(4), 5000u);
        EXPECT_EQ(command.U32(8), 8192u) << "region size rounded up to 4 KiB";
        EXPECT_EQ(command.params[12], 0x00);
        EXPECT_EQ(command.params[13], 0xFF);
        board.Write(ACK_THEN_C);
        ReceivedFile app;
        if (!board.ReceiveYmodemFile(app)) {
            return;
        }
        EXPECT_EQ(app.name, "app.bin");
        EXPECT_EQ(app.frameDataSize, 4096u) << "images after the loader use the packet size";
        EXPECT_EQ(app.data, APP);
        board.Write(ACK_OK);
    });
    EXPECT_EQ(DownloadAllinoneBin(m_handle, package.c_str(), 0), 1) << g_log;
    JoinBoard();
    EXPECT_EQ(m_boardError, "");
    EXPECT_NE(g_log.find("downloaded: loader.bin successfully.\n"), std::string::npos);
    EXPECT_NE(g_log.find("downloaded: app.bin successfully.\n"), std::string::npos);
    EXPECT_EQ(g_log.find("timeout"), std::string::npos) << g_log;
}

TEST_F(Vb27ChipOverPty, OnlyBurnNamesCanSkipTheLoader)
{
    BurnVb27ChipSp::BurnVb27Chip* chip = Open(CHIP_TYPE_VB27);
    ASSERT_NE(chip, nullptr);
    chip->SetOnlyBurnNames({"app"});
    const std::string package = Package({LOADER_IMAGE, APP_IMAGE});
    RunBoard([](BoardPeer& board) {
        Command command;
        if (!board.NextCommand(command, false)) {
            return;
        }
        EXPECT_EQ(command.code, 0xF0);
        board.Write(ACK_OK);
        if (!board.NextCommand(command)) {
            return;
        }
        EXPECT_EQ(command.code, 0xD2) << "the first transfer is announced by its command frame";
        board.Write(ACK_THEN_C);
        ReceivedFile app;
        if (board.ReceiveYmodemFile(app)) {
            EXPECT_EQ(app.data, APP);
            board.Write(ACK_OK);
        }
    });
    EXPECT_EQ(DownloadAllinoneBin(m_handle, package.c_str(), 0), 1) << g_log;
    JoinBoard();
    EXPECT_EQ(m_boardError, "");
    EXPECT_EQ(g_log.find("loader.bin"), std::string::npos);
}

TEST_F(Vb27ChipOverPty, SwitchesBaudRateAfterTheLoader)
{
    BurnVb27ChipSp::BurnVb27Chip* chip = Open(CHIP_TYPE_VB27, 921600);
    ASSERT_NE(chip, nullptr);
    chip->SetTargetBaudRate(3000000);
    chip->SetSwitchAfterLoader(true);
    const std::string package = Package({LOADER_IMAGE, APP_IMAGE});
    RunBoard([](BoardPeer& board) {
        if (!HandshakeAndLoader(board, LOADER, 115200)) {
            return;
        }
        Command command;
        if (!board.NextCommand(command)) {
            return;
        }
        EXPECT_EQ(command.code, 0x5A);
        EXPECT_EQ(command.U32(0), 3000000u);
        board.Write(ACK_OK);
        if (!board.NextCommand(command)) {
            return;
        }
        EXPECT_EQ(command.code, 0xD2);
        board.Write(ACK_THEN_C);
        ReceivedFile app;
        if (board.ReceiveYmodemFile(app)) {
            board.Write(ACK_OK);
        }
    });
    EXPECT_EQ(DownloadAllinoneBin(m_handle, package.c_str(), 0), 1) << g_log;
    JoinBoard();
    EXPECT_EQ(m_boardError, "");
}

TEST_F(Vb27ChipOverPty, SendsTheResetCommandAfterEveryHundredthHandshake)
{
    BurnVb27ChipSp::BurnVb27Chip* chip = Open(CHIP_TYPE_VB27);
    ASSERT_NE(chip, nullptr);
    chip->SetCtrlPeriod(1);
    chip->SetBeforeReset(true);
    chip->SetAtResetCommand("AT+RST\r\n");
    const std::string package = Package({LOADER_IMAGE});
    RunBoard([](BoardPeer& board) {
        for (int frame = 1; frame <= 100; ++frame) {
            Command handshake;
            if (!board.NextCommand(handshake, false)) {
                return;
            }
            EXPECT_EQ(handshake.code, 0xF0);
        }
        if (!board.ExpectText("AT+RST\r\n")) {
            return;
        }
        board.Write(ACK_THEN_C);
        ReceivedFile loader;
        if (board.ReceiveYmodemFile(loader)) {
            board.Write(ACK_OK);
        }
    });
    EXPECT_EQ(DownloadAllinoneBin(m_handle, package.c_str(), 0), 1) << g_log;
    JoinBoard();
    EXPECT_EQ(m_boardError, "");
}

TEST_F(Vb27ChipOverPty, ARefusedCommandIsAcceptedOnItsResend)
{
    BurnVb27ChipSp::BurnVb27Chip* chip = Open(CHIP_TYPE_VB27);
    ASSERT_NE(chip, nullptr);
    BurnVb27ChipSp::Vb27Windows windows;
    windows.commandAck = 300;
    windows.commandTotal = 20000;
    chip->SetWindows(windows);
    RunBoard([](BoardPeer& board) {
        Command first;
        Command second;
        if (!board.NextCommand(first)) {
            return;
        }
        board.Write(Vb27Peer::AckFrame(0xA5));
        if (!board.NextCommand(second)) {
            return;
        }
        EXPECT_EQ(first.raw, second.raw);
        board.Write(ACK_OK);
    });
    EXPECT_EQ(EraseAllFlash(m_handle, nullptr), 1) << g_log;
    JoinBoard();
    EXPECT_EQ(m_boardError, "");
    EXPECT_NE(g_log.find("CheckAckFrame: ack result error: 165\n"), std::string::npos);
    EXPECT_EQ(g_log.find("Ack receiving timeout"), std::string::npos);
}

TEST_F(Vb27ChipOverPty, NoiseAndABrokenFrameBeforeTheAckArePassedOver)
{
    BurnVb27ChipSp::BurnVb27Chip* chip = Open(CHIP_TYPE_VB27);
    ASSERT_NE(chip, nullptr);
    BurnVb27ChipSp::Vb27Windows windows;
    windows.commandAck = 5000;
    windows.commandTotal = 5000;  // one attempt: the first answer must be understood
    chip->SetWindows(windows);
    RunBoard([](BoardPeer& board) {
        Command command;
        if (!board.NextCommand(command)) {
            return;
        }
        Bytes broken = ACK_OK;
        broken[10] ^= 0xFF;
        board.Write(Join(Join({0x00, 0xEF, 0xBE, 'b', 'o', 'o', 't', '\n'}, broken), ACK_OK));
    });
    EXPECT_EQ(EraseAllFlash(m_handle, nullptr), 1) << g_log;
    JoinBoard();
    EXPECT_EQ(m_boardError, "");
}

TEST_F(Vb27ChipOverPty, EraseAllIsAFlashImageCommandOverTheWholeFlash)
{
    ASSERT_NE(Open(CHIP_TYPE_VB27), nullptr);
    RunBoard([](BoardPeer& board) {
        Command command;
        if (!board.NextCommand(command)) {
            return;
        }
        EXPECT_EQ(command.code, 0xD2);
        EXPECT_EQ(command.U32(0), 0u);
        EXPECT_EQ(command.U32(4), 0u);
        EXPECT_EQ(command.U32(8), 0xFFFFFFFFu) << "not rounded";
        board.Write(ACK_OK);
    });
    EXPECT_EQ(EraseAllFlash(m_handle, nullptr), 1) << g_log;
    JoinBoard();
    EXPECT_EQ(m_boardError, "");
}

TEST_F(Vb27ChipOverPty, SilentBoardFailsTheHandshakeWithinItsWindow)
{
    BurnVb27ChipSp::BurnVb27Chip* chip = Open(CHIP_TYPE_VB27);
    ASSERT_NE(chip, nullptr);
    BurnVb27ChipSp::Vb27Windows windows;
    windows.handshakeTotal = 300;
    chip->SetWindows(windows);
    const std::string package = Package({LOADER_IMAGE});
    RunBoard([](BoardPeer& board) { board.Drain(1000); });
    EXPECT_EQ(DownloadAllinoneBin(m_handle, package.c_str(), 0), 0);
    EXPECT_EQ(g_log, "Shakehand failed, The board does not respond.\n"
                     "Shakehand failed, The board does not respond.\n");
}

TEST_F(Vb27ChipOverPty, MissingFinalAckIsReportedAndTheBurnGoesOn)
{
    BurnVb27ChipSp::BurnVb27Chip* chip = Open(CHIP_TYPE_VB27);
    ASSERT_NE(chip, nullptr);
    BurnVb27ChipSp::Vb27Windows windows;
    windows.imageAck = 300;
    chip->SetWindows(windows);
    const std::string package = Package({LOADER_IMAGE});
    RunBoard([](BoardPeer& board) {
        Command handshake;
        if (!board.NextCommand(handshake, false)) {
            return;
        }
        board.Write(ACK_THEN_C);
        ReceivedFile loader;
        board.ReceiveYmodemFile(loader);
    });
    EXPECT_EQ(DownloadAllinoneBin(m_handle, package.c_str(), 0), 1) << g_log;
    EXPECT_NE(g_log.find("Ack receiving timeout.\ndownloaded: loader.bin successfully.\n"), std::string::npos)
        << g_log;
}

TEST_F(Vb27ChipOverPty, CancelEndsTheRunningCommand)
{
    ASSERT_NE(Open(CHIP_TYPE_VB27), nullptr);
    EXPECT_EQ(Cancel(m_handle), 1);
    EXPECT_EQ(EraseAllFlash(m_handle, nullptr), 0);
    EXPECT_NE(g_log.find("\nUser Cancelled!\n"), std::string::npos);
}

// Both families prepare an erase with the package's loader alone.
class Vb27FamilyErase : public Vb27ChipOverPty, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(Vb27FamilyErase, LoadsOnlyThePackageLoaderThenErases)
{
    ASSERT_NE(Open(GetParam()), nullptr);
    SetIsOnlyBurnLoader(1);
    const std::string package = Package({LOADER_IMAGE, APP_IMAGE});
    RunBoard([](BoardPeer& board) {
        if (!HandshakeAndLoader(board, LOADER, 115200)) {
            return;
        }
        Command command;
        if (!board.NextCommand(command)) {
            return;
        }
        EXPECT_EQ(command.code, 0xD2);
        EXPECT_EQ(command.U32(4), 0u) << "the erase command, not the application image";
        EXPECT_EQ(command.U32(8), 0xFFFFFFFFu);
        board.Write(ACK_OK);
    });
    EXPECT_EQ(EraseAllFlash(m_handle, package.c_str()), 1) << g_log;
    JoinBoard();
    EXPECT_EQ(m_boardError, "");
}

INSTANTIATE_TEST_SUITE_P(BothChipTypes, Vb27FamilyErase, ::testing::Values(CHIP_TYPE_VB27, CHIP_TYPE_QN4180));

TEST_F(Vb27ChipOverPty, Qn4180RoundsRegionsToSectorsAndCarriesTheFormat)
{
    ASSERT_NE(Open(CHIP_TYPE_QN4180), nullptr);
    const std::string package = Package({LOADER_IMAGE, {"rom.img", 14, 0x20000, 513, APP}});
    RunBoard([](BoardPeer& board) {
        if (!HandshakeAndLoader(board, LOADER, 115200)) {
            return;
        }
        Command command;
        if (!board.NextCommand(command)) {
            return;
        }
        EXPECT_EQ(command.code, 0xD2);
        EXPECT_EQ(command.U32(8), 1024u);
        EXPECT_EQ(command.params[12], 0x02);
        EXPECT_EQ(command.params[13], 0xFD);
        board.Write(ACK_THEN_C);
        ReceivedFile image;
        if (board.ReceiveYmodemFile(image)) {
            EXPECT_EQ(image.data, APP);
            board.Write(ACK_OK);
        }
    });
    EXPECT_EQ(DownloadAllinoneBin(m_handle, package.c_str(), 0), 1) << g_log;
    JoinBoard();
    EXPECT_EQ(m_boardError, "");
}

// The board sends read-back data in 1 KiB frames whatever the download packet size.
class Vb27Upload : public Vb27ChipOverPty, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(Vb27Upload, ReadsFlashIntoTheFile)
{
    SetPacketSize(GetParam());
    ASSERT_NE(Open(CHIP_TYPE_VB27), nullptr);
    const Bytes flash = Vb27Peer::PatternBytes(3000, 7);
    RunBoard([flash](BoardPeer& board) {
        Command command;
        if (!board.NextCommand(command)) {
            return;
        }
        EXPECT_EQ(command.code, 0xB4);
        EXPECT_EQ(command.raw.size(), 18u);
        EXPECT_EQ(command.U32(0), 3000u);
        EXPECT_EQ(command.U32(4), 0x400000u);
        board.Write(ACK_OK);
        board.SendYmodemFile("flash.bin", flash);
    });
    const std::string out = m_dir.File("read.bin");
    EXPECT_EQ(UploadFile(m_handle, 0x400000, 3000, out.c_str()), 1) << g_log;
    JoinBoard();
    EXPECT_EQ(m_boardError, "");
    EXPECT_EQ(ReadFile(out), flash);
}

INSTANTIATE_TEST_SUITE_P(PacketSizes, Vb27Upload, ::testing::Values(1024u, 4096u, 8192u));

} // namespace
