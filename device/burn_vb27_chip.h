// Chip object of the Vb27 boards: one package burn per DownloadAllinoneBin
// (handshake, then per image an acknowledged command frame and a YMODEM
// transfer), erase of the whole flash, and read-back by upload + YMODEM.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/burn_chip_base.h"

namespace Common {
struct FileHead;
}
namespace YmodemProtocolSp {
class YmodemProtocol;
}

namespace BurnVb27ChipSp {

constexpr uint32_t SHAKEHAND_TOTAL_TIMEOUT = 60000;
constexpr uint32_t SHAKEHAND_FRAME_TIMEOUT = 10;
constexpr int COMMAND_FRAME_TIMEOUT = 30000;
constexpr int COMMAND_TOTAL_TIMEOUT = 60000;
constexpr int MAX_RECV_ACK_BUFFER = 4096;
constexpr uint32_t AT_COMMAND_HANDSHAKE_INTERVAL = 100;
constexpr uint32_t IMAGE_ACK_TIMEOUT = 60000;
constexpr uint32_t SWITCH_BAUD_ACK_TIMEOUT = 5000;

// Every window of the chip's exchanges, in ms. The defaults are the boards'
// own; tests and tools may shorten them.
struct Vb27Windows {
    uint32_t handshakeTotal = SHAKEHAND_TOTAL_TIMEOUT;
    int commandAck = COMMAND_FRAME_TIMEOUT;
    int commandTotal = COMMAND_TOTAL_TIMEOUT;
    uint32_t imageAck = IMAGE_ACK_TIMEOUT;
    uint32_t switchBaudAck = SWITCH_BAUD_ACK_TIMEOUT;
};

class BurnVb27Chip : public BurnChipBase {
public:
    BurnVb27Chip() = default;
    ~BurnVb27Chip() override = default;

    bool EraseAllFlash() override;
    bool DownloadAllinoneBin(const char* path, unsigned long param) override;
    bool CheckAllinoneBin(const char* path) override;
    int UploadFile(unsigned long addr, int length, const char* path) override;
    void SetOnlyBurnNames(const std::vector<std::string>& names) override;
    std::vector<std::string> GetOnlyBurnNames() const override;

    virtual bool SendFlashImageCmdFrame(unsigned long burnAddress, unsigned long length, unsigned long burnSize,
                                        int type);
    virtual bool SendCommandWithAck(const unsigned char* frame, int length, int ackWait, int totalWait);

    // True when buf holds an ACK frame that accepts; the first valid frame decides.
    bool CheckAckFrame(const unsigned char* buf, int length);
    // Waits up to timeout ms for an accepting ACK frame. count bytes of a frame
    // begun earlier are kept in buf between calls. Every examined frame is
    // dropped from buf, and nothing behind an accepted frame is read.
    bool ReceiveAckAndCheck(unsigned char* buf, int bufLength, int& count, int timeout);
    int SendShakeHandFrame();
    bool SendVersionCmdFrame(const Common::FileHead& entry);
    bool SendOtpOrEfuseCmdFrame(const Common::FileHead& entry);
    bool SendFactoryCmdFrame(const Common::FileHead& entry);
    bool SendNvOrKvCmdFrame(const Common::FileHead& entry);
    int SendCommandFrame(const Common::FileHead& entry);
    bool SendUploadDataFrame(unsigned long addr, unsigned long length);
    // Package header and entry table of a whole package held in memory.
    bool CheckFwpkgHeadData(const uint8_t* head, uint32_t fileLength);

    void SetWindows(const Vb27Windows& windows) { m_windows = windows; }
    const Vb27Windows& GetWindows() const { return m_windows; }

protected:
    enum class AckWait { ACCEPTED, TIMED_OUT, ABORTED };

    // ReceiveAckAndCheck that tells a timeout from a cancel or a lost line.
    AckWait WaitForAck(unsigned char* buf, int bufLength, int& count, uint32_t timeout);
    AckWait WaitForFreshAck(uint32_t timeout);
    bool SendFrameWithAck(const std::vector<uint8_t>& frame);
    bool SendFlashImageFrame(unsigned long burnAddress, unsigned long length, unsigned long burnSize, int type,
                             uint32_t block, int ackWait, int totalWait);
    // A cancel or a lost line ends every wait; true when the caller must stop.
    bool ShouldStop();

    bool BurnPackage(const uint8_t* package, uint32_t fileLength);
    // The package's bytes once its header and table are checked; null after the message.
    std::unique_ptr<uint8_t[]> LoadPackage(const char* path, uint32_t& size);
    bool IsSelected(const Common::FileHead& entry) const;
    bool SendImage(const uint8_t* package, const Common::FileHead& entry, YmodemProtocolSp::YmodemProtocol& sender);
    bool SwitchBaudAfterLoader();

    std::vector<std::string> m_onlyBurnNames;
    Vb27Windows m_windows;
};

} // namespace BurnVb27ChipSp
