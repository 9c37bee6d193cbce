// Chip object of the TypeSix boards (chip type 0x30002): waits for the boot
// ROM, loads a second-stage boot loader (the ssb, optionally a small ssb
// first) page by page with its digest and security files, erases the flash
// through the running ssb, resets the board, and burns a whole fwpkg package
// with the TypeSix serial protocol.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/burn_chip_base.h"

class BurnTypeSixChip : public BurnChipBase {
public:
    // One package image to burn; data points into the package buffer.
    struct PartitionItem {
        std::string name;
        uint32_t length = 0;
        uint32_t imageType = 0;
        uint32_t burnAddress = 0;
        uint32_t burnSize = 0;
        const uint8_t* data = nullptr;
    };

    // How a wait for an answer ended.
    enum class AnswerWait { ACCEPTED, REJECTED, TIMED_OUT, ABORTED };

    static constexpr unsigned long MAX_RECV_BUFFER_SIZE = 53248;
    // Bytes gathered without a complete answer before the attempt is given up.
    static constexpr unsigned long MAX_GATHERED = 49151;
    static constexpr unsigned long MAX_FRAME_LEN = 4096;
    // The boot ROM and the ssb load run at this rate; Reset returns to it.
    static constexpr uint32_t ROM_BAUD_RATE = 115200;
    static constexpr uint32_t NO_HANDSHAKE_LIMIT = 0xFFFFFFFF;

    BurnTypeSixChip() = default;
    ~BurnTypeSixChip() override;

    bool ShakeHand() override;
    bool EraseAllFlash() override;
    bool FilePrepare(const std::string& spec) override;
    bool InitBoard() override;
    bool DownloadBootData() override;
    bool DownloadAllinoneBin(const char* path, unsigned long address) override;
    bool SendFrame(unsigned char* data, unsigned long length, unsigned long attemptTimeout,
                   unsigned long totalTimeout, bool unused) override;
    bool Reset() override;
    void SetOnlyBurnNames(const std::vector<std::string>& names) override;
    std::vector<std::string> GetOnlyBurnNames() const override;

    // --- second-stage boot ----------------------------------------------------
    bool DownloadSsb();
    bool DownloadSmallSsb();
    bool EraseSsb();
    bool FsbWritePage(const uint8_t* data, uint32_t length);
    bool SendSsbData(unsigned short number, const unsigned char* data, unsigned long length, bool last);
    bool SendShaData(const uint8_t* digest, uint32_t length, uint32_t imageLength);
    bool SendKeyStoreData();
    bool SendCertificateData();
    bool SendSignatureData();
    bool SendExitFrame();
    bool WaitSsbRunning();
    // 0 bad answer, 1 good answer, 2 no complete answer yet.
    int CheckRecvData(const unsigned char* data, unsigned long length) const;

    // --- whole package -----------------------------------------------------------
    bool ParseFile(const char* path);
    bool ParseNormalFwpkg(unsigned char* data, unsigned long length);
    bool ParseNewFwpkg(unsigned char* data, unsigned long length);
    bool InitShaData(const std::string& name);
    const std::vector<PartitionItem>& GetPartitionList() const { return m_partitionList; }

    // --- what the serial protocol shares -------------------------------------
    // Gathers the board's bytes for at most window ms and hands everything
    // gathered to examine after each arrival (0 reject, 1 accept, 2 wait on).
    AnswerWait CollectAnswer(unsigned long window, const std::function<int(const uint8_t*, size_t)>& examine);
    // Drops whatever the board has sent and nobody has read yet.
    void DiscardPending();
    // Waits a short while for bytes and appends them as board text; false when none came.
    bool PollBoardText(std::string& text);
    // A cancel or a lost line; true when the caller must stop.
    bool ShouldStop();
    // Refuses (with a message) an ssb whose packets could not all be numbered.
    bool SsbPacketCountFits(uint32_t length, const char* what);
    uint32_t GetFrameSequence() const { return m_frameSequence; }

private:
    struct View {
        const uint8_t* data = nullptr;
        uint32_t length = 0;
    };
    struct OwnedData {
        std::unique_ptr<uint8_t[]> bytes;
        uint32_t length = 0;
        bool Present() const { return bytes != nullptr; }
    };
    // How a wait for the board's start text ended.
    enum class BoardText { STOPPED, TIMED_OUT, ROM, SSB };

    // Polls the board's text (gathered in text) until a start text shows or
    // the handshake time since start has run out.
    BoardText AwaitBoardText(uint32_t start, std::string& text);
    // Refuses an ssb too long to number, then shakes hands and opens the ROM.
    bool StartRomLoad(uint32_t length, const char* what);

    uint8_t NextSequence();
    bool SendCommand(const std::vector<uint8_t>& payload, unsigned long attemptTimeout, unsigned long totalTimeout);
    bool SendRaw(const std::vector<uint8_t>& payload);
    bool SendSecurityFrame(const std::vector<uint8_t>& payload, const char* what);
    bool ReadWhole(const std::string& path, OwnedData& into);
    void ForgetPackage();
    bool ParseFwpkg(const uint8_t* data, unsigned long length, bool newLayout);
    bool BurnPartitions();

    OwnedData m_package;
    OwnedData m_ssbBuffer;
    OwnedData m_ssbDigestBuffer;
    View m_ssb;
    View m_ssbDigest;
    View m_smallSsb;
    View m_smallSsbDigest;
    bool m_hasSmallSsbDigest = false;
    OwnedData m_keyStore;
    OwnedData m_certificate;
    OwnedData m_signature;
    uint32_t m_frameSequence = 0;
    std::vector<PartitionItem> m_partitionList;
    std::vector<uint8_t> m_answerBuffer;
};

// The chip object for chip type 0x30002 (declared in device/typesix_chip_factory.h).
std::unique_ptr<BurnChipBase> NewTypeSixChip();
