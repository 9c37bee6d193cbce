// Chip object of the TypeSix boards: waits for the boot
// ROM, loads a second-stage boot loader (the ssb, optionally a small ssb
// first) page by page with its digest and security files, erases the flash
// through the running ssb, resets the board, and burns a whole fwpkg package
// with the TypeSix serial protocol. The ROM stage and the protocol it makes
// speak through the chip's one TypeSix link.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/file_helpers.h"
#include "device/burn_chip_base.h"
#include "device/typesix/typesix_link.h"

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

    BurnTypeSixChip();
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
    std::unique_ptr<TransportProtocolBase> CreateDownloadProtocol() override;
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
    // Refuses (with a message) an ssb whose packets could not all be numbered.
    bool SsbPacketCountFits(uint32_t length, const char* what);

    // --- whole package -----------------------------------------------------------
    bool ParseFile(const char* path);
    bool ParseNormalFwpkg(unsigned char* data, unsigned long length);
    bool ParseNewFwpkg(unsigned char* data, unsigned long length);
    bool InitShaData(const std::string& name);
    const std::vector<PartitionItem>& GetPartitionList() const { return m_partitionList; }

private:
    struct View {
        const uint8_t* data = nullptr;
        uint32_t length = 0;
    };
    struct OwnedData {
        Common::FileBytes bytes;
        uint32_t length = 0;
        bool Present() const { return bytes != nullptr; }
    };
    // Refuses an ssb too long to number, then shakes hands and opens the ROM.
    bool StartRomLoad(uint32_t length, const char* what);

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
    std::vector<PartitionItem> m_partitionList;
    TypeSixLink m_link;
};

// The TypeSix chip object (declared in device/typesix_chip_factory.h).
std::unique_ptr<BurnChipBase> NewTypeSixChip();
