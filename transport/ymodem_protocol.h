// The YMODEM variant spoken by the Vb27 loader: 1 KiB (or larger) CRC-16 data
// frames behind a 128-byte block 0 carrying the name and a hexadecimal size,
// zero padding, a fixed 133-byte finish frame, 'C' as the request to repeat.
//
// Sending follows the loader's variant exactly. Receiving sizes every data
// frame by its head byte (SOH 128, STX 1024, 0x0A/0x0B/0x0C 2048/4096/8192)
// into a buffer that holds the largest one, so the packet-size setting can
// never make it read or write past a buffer; the loader's STX frames and a
// textbook sender's mixed 1024/128-byte frames are both taken. The file keeps
// exactly the number of bytes the caller asked for (padding is dropped); a
// read-back can also go into memory instead of a file.
//
// Frames are collected byte-exact: whatever follows a frame stays pending in
// the transport for the next reader.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/outcome.h"
#include "transport/chip_link.h"

namespace YmodemProtocolSp {

constexpr uint8_t YMODEM_SOH = 0x01;
constexpr uint8_t YMODEM_STX = 0x02;
constexpr uint8_t YMODEM_EOT = 0x04;
constexpr uint8_t YMODEM_ACK = 0x06;
constexpr uint8_t YMODEM_NAK = 0x15;
constexpr uint8_t YMODEM_C = 0x43;
constexpr uint8_t YMODEM_HEAD_2K = 0x0A;
constexpr uint8_t YMODEM_HEAD_4K = 0x0B;
constexpr uint8_t YMODEM_HEAD_8K = 0x0C;

constexpr uint32_t YMODEM_FRAME_HEAD_LEN = 3;
constexpr uint32_t YMODEM_CRC_LEN = 2;
constexpr uint32_t YMODEM_SOH_DATA_SIZE = 128;
constexpr uint32_t YMODEM_SOH_FRAME_SIZE = 133;
constexpr uint32_t YMODEM_DATA_FRAME_SIZE = 1029;
constexpr uint32_t SINGLE_FRAME_DATA_SIZE_1K = 1024;
constexpr uint32_t MAX_RECV_FRAME_DATA_SIZE = 8192;
constexpr uint32_t MAX_FILE_NAME_LENGTH = 112;

constexpr uint32_t YMODEM_C_RECV_TIMEOUT = 10000;
constexpr uint32_t SEND_YMODEM_C_DELAY_TIME = 1000;
constexpr uint32_t YMODEM_DELAY_TIME = 10;
constexpr uint32_t YMODEM_HANDSHAKE_READ_SIZE = 512;

// Head byte of a data frame carrying dataSize bytes.
uint8_t GetYmodemDataFrameHead(uint32_t dataSize);
// Whole frame size: head, block, complement, data, check field.
uint32_t GetYmodemDataFrameSize(uint32_t dataSize);
// Data size announced by a received head byte; 0 when it is no frame head.
uint32_t GetYmodemDataSizeOfHead(uint8_t head);

class YmodemProtocol {
public:
    // packetSize: the chip's packet size; 0 or less means 1024.
    YmodemProtocol(ChipLink* chip, int packetSize);

    void SetSingleFrameDataSize(int size);

    bool DownloadFile(const uint8_t* data, uint32_t size, const std::string& fileName);
    bool UploadFile(const std::string& path, uint32_t size);
    // As UploadFile, into data (replaced) instead of a file.
    bool UploadData(std::vector<uint8_t>& data, uint32_t size);

    // Sender building blocks.
    bool YmodemHandshake();
    bool InitYmodemStartFrame(uint8_t* frame, uint32_t frameSize, const std::string& name, uint32_t fileSize);
    bool SendYmodemStartFrame(const std::string& fileName, uint32_t size);
    // Waits for the receiver's request for the first data block; false on a cancel or a lost line.
    bool AwaitDataRequest();
    bool InitYmodemDataFrame(uint8_t* frame, uint32_t frameSize, uint8_t block, const uint8_t* data,
                             uint32_t chunk);
    bool SendYmodemDataFrame(const uint8_t* data, uint32_t size, uint32_t frameSize);
    bool SendYmodemFinishFrame();
    bool SendFrameWithYmodemAck(const uint8_t* frame, uint32_t length);

    // Receiver building blocks.
    bool CheckRecvData(const uint8_t* frame, uint32_t frameSize, uint8_t head, uint8_t block) const;
    bool RecvYModelSOHFrame();
    // Collects one data frame of expectedBlock into buffer; dataSize tells how
    // many data bytes it carried (from offset 3). A frame that would not fit
    // bufferSize is taken as a bad frame.
    bool RecvDataFrame(uint8_t* buffer, uint32_t bufferSize, uint32_t& expectedBlock, uint32_t& dataSize);
    bool RecvDataAndWriteFile(const std::string& path, uint32_t size);
    // Takes the data frames of size bytes, handing each frame's bytes to
    // keep (false: it could not keep them, after its own message).
    using DataSink = std::function<bool(const uint8_t* bytes, uint32_t length)>;
    bool RecvData(uint32_t size, const DataSink& keep);
    bool RecvYModelEotFrame();

private:
    bool SendAll(const uint8_t* data, uint32_t length);
    bool SendByte(uint8_t byte);
    void WaitPoll(uint32_t timeoutMs);
    bool LineGone();
    // Reads exactly count bytes before windowMs have passed since start;
    // nothing beyond them is taken.
    bool CollectBytes(uint8_t* buffer, uint32_t count, uint32_t start, uint32_t windowMs);
    // A frame of frameSize bytes (0: sized by its head byte); its size, or 0
    // when it did not arrive in time or would not fit the buffer.
    uint32_t CollectFrame(uint8_t* buffer, uint32_t bufferSize, uint32_t frameSize);
    void PrintFrameProgress(uint32_t frames, uint32_t step, uint64_t done, uint64_t total);
    // Block 0, the data (received by receiveData), EOT and the closing block 0.
    bool Upload(const std::function<bool()>& receiveData);
    void PrintText(const char* text);
    // Prints the message and keeps it as the failure of the operation.
    void Fail(Common::OutcomeKind kind, const char* text);

    // Whether the frame is a good copy of a block already taken, which the
    // board sends again when our ACK of it did not reach it.
    bool IsRepeatOf(const uint8_t* frame, uint32_t frameSize, uint8_t block) const;

    uint32_t m_singleFrameDataSize = SINGLE_FRAME_DATA_SIZE_1K;
    ChipLink* m_chip = nullptr;
    uint8_t m_lastBlock = 0;  // the last data block taken
};

}  // namespace YmodemProtocolSp
