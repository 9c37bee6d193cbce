// The serial protocol a TypeSix board's running ssb speaks: small command
// frames answered one by one, image download (flash, eMMC and OTP images, or
// application images) in packets, and flash read-back in blocks. Its frames go
// through the chip's TypeSix link, which the ROM stage speaks through too.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/file_helpers.h"
#include "transport/transport_protocol_base.h"

class BurnChipBase;
class TypeSixLink;

class TypeSixSerCusPro : public TransportProtocolBase {
public:
    static constexpr unsigned long FRAME_TIME_OUT = 500;
    static constexpr unsigned long FRAME_SEND_INIT_TIMEOUT = 150;
    static constexpr unsigned long TOTAL_TIMEOUT = 30000;
    static constexpr unsigned long ERASE_FRAME_TIMEOUT = 30000;
    static constexpr unsigned long ERASE_TOTAL_TIMEOUT = 60000;
    static constexpr unsigned long READ_FRAME_TIMEOUT = 1000;
    static constexpr unsigned long READ_TOTAL_TIMEOUT = 30000;
    static constexpr uint32_t MAX_READ_BLOCK = 4096;
    // Largest piece of an image file held in memory at once.
    static constexpr uint32_t SPILT_SIZE = 0x08000000;
    static constexpr size_t HAS_SHA_SPLIT_SIZE = 2;
    // A spec without "|" is one piece: the image path alone.
    static constexpr size_t NOT_SHA_SPLIT_SIZE = 1;

    // Numbers its frames from 0 on the link it shares with the chip.
    TypeSixSerCusPro(BurnChipBase& chip, TypeSixLink& link);
    ~TypeSixSerCusPro() override = default;

    using TransportProtocolBase::SendData;

    bool DownloadFile(const char* fileSpec, unsigned long address, unsigned long length) override;
    bool DownloadData(const unsigned char* data, unsigned long dataLength, unsigned long address,
                      unsigned long length) override;
    bool UploadFile(const char* outputPath, int size, unsigned long address) override;

    // --- preparation --------------------------------------------------------
    bool Ready();
    bool ReadyAndSetSpeed();
    bool PreparingForDownload(uint32_t size);
    bool Reset();

    // --- commands -----------------------------------------------------------
    bool Init();
    bool SendAppShaData();
    bool StartFlashing();
    bool EndFlashingPage();
    bool SetMemoryConfig(uint32_t length);
    bool EraseCore(uint32_t size);
    bool SetSpeed();
    bool SetFlashLimits();
    bool SetKvKey();
    bool WriteBinHead(uint32_t address, uint32_t length);
    bool SendShaData(uint32_t address, uint32_t length);

    // --- image download ------------------------------------------------------
    bool StartDownloadFile(const char* fileSpec, unsigned long address, unsigned long length);
    bool DownloadOtherFile(const uint8_t* data, const std::string& path, uint32_t dataLength, uint32_t address,
                           uint32_t length);
    bool DownloadAppFile(const uint8_t* data, uint32_t dataLength, uint32_t eraseSize);
    bool SendFileData(const uint8_t* data, uint32_t length, uint32_t total, uint32_t& sent);
    bool SendData(const uint8_t* data, uint32_t chunk, bool last);

    // --- read-back --------------------------------------------------------------
    bool RecvDataAndWriteFile(uint32_t address, uint32_t length, FILE* file);
    // 1 block written, 2 no usable answer (yet), 0 writing the file failed.
    int ParseRecvDataAndWriteFile(const uint8_t* bytes, size_t count, uint32_t expected, FILE* file);
    bool ParseRecvDataFrame(std::vector<uint8_t>& payload, const uint8_t* bytes, size_t count);
    // 11 bytes: sequence byte, 0x21, address u32 BE, length u32 BE, check.
    void InitDataRequestFrame(uint8_t* frame, uint32_t length, uint32_t address);

private:
    bool Command(const std::vector<uint8_t>& payload, unsigned long answerWait, unsigned long totalWait);
    bool SendWholeFile(const std::string& path, uint32_t length);
    void DropDigestOfThisCall();

    BurnChipBase& m_burnChip;
    TypeSixLink& m_link;
    // A digest read by DownloadFile; lives for that call only.
    Common::FileBytes m_loadedSha;
};
