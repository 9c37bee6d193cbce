// What a chip family's file-transfer protocol offers the chip object. Every
// operation succeeds without touching the line unless a family overrides it.
#pragma once

#include <cstdint>

#include "transport/chip_link.h"

class TransportProtocolBase {
public:
    explicit TransportProtocolBase(ChipLink* chip) : m_chip(chip) {}
    virtual ~TransportProtocolBase() = default;
    TransportProtocolBase(const TransportProtocolBase&) = delete;
    TransportProtocolBase& operator=(const TransportProtocolBase&) = delete;

    virtual bool DownloadFileToDdr(const unsigned char* data, unsigned long length, unsigned long address,
                                   const char* fileName);
    virtual bool DownloadFile(const char* fileSpec, unsigned long address, unsigned long length);
    virtual bool DownloadData(const unsigned char* data, unsigned long dataLength, unsigned long address,
                              unsigned long length);
    virtual bool UploadFile(const char* outputPath, int size, unsigned long address);
    virtual bool EraseFlash(unsigned long address, unsigned long length);
    virtual bool DownloadDataToDdr(unsigned long address, const char* text);
    virtual bool SendData(unsigned long a, unsigned long b, const unsigned char* data);

    void SetFileType(int fileType) { m_fileType = fileType; }
    // The digest stays the caller's and must outlive the transfer.
    void SetShaData(const unsigned char* data, unsigned long length)
    {
        m_shaData = data;
        m_shaDataLength = static_cast<uint32_t>(length);
    }

protected:
    int m_fileType = -1;
    ChipLink* m_chip = nullptr;
    const unsigned char* m_shaData = nullptr;
    uint32_t m_shaDataLength = 0;
};
