// Chip object of the Vb27 boards: one package burn per DownloadAllinoneBin
// (handshake, then per image an acknowledged command frame and a YMODEM
// transfer), erase of the whole flash, and read-back by upload + YMODEM.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/file_helpers.h"
#include "common/fwpkg_format.h"
#include "device/burn_chip_base.h"

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

class BurnVb27Chip : public BurnChipBase {
public:
    BurnVb27Chip() = default;
    ~BurnVb27Chip() override = default;

    bool EraseAllFlash() override;
    bool DownloadAllinoneBin(const char* path, unsigned long param) override;
    bool CheckAllinoneBin(const char* path) override;
    int UploadFile(unsigned long addr, int length, const char* path) override;
    int UploadData(unsigned long addr, uint32_t length, std::vector<uint8_t>& data) override;
    std::vector<BurnedImage> BurnedImages() const override { return m_burned; }
    void SetOnlyBurnNames(const std::vector<std::string>& names) override;
    std::vector<std::string> GetOnlyBurnNames() const override;

    virtual bool SendFlashImageCmdFrame(unsigned long burnAddress, unsigned long length, unsigned long burnSize,
                                        int type);
    virtual bool SendCommandWithAck(const unsigned char* frame, int length, int ackWait, int totalWait);

    int SendShakeHandFrame();
    bool SendVersionCmdFrame(const Common::FileHead& entry);
    bool SendOtpOrEfuseCmdFrame(const Common::FileHead& entry);
    bool SendFactoryCmdFrame(const Common::FileHead& entry);
    bool SendNvOrKvCmdFrame(const Common::FileHead& entry);
    int SendCommandFrame(const Common::FileHead& entry);
    bool SendUploadDataFrame(unsigned long addr, unsigned long length);
    // Package header and entry table of a whole package held in memory.
    bool CheckFwpkgHeadData(const uint8_t* head, uint32_t fileLength);

protected:
    // GARBLED: an ACK frame came whole but spoiled (or was cut short): as
    // lost as one that never came, and known at once.
    enum class AckWait { ACCEPTED, REFUSED, GARBLED, TIMED_OUT, ABORTED };
    // Whether a refusing ACK frame ends the wait or the wait goes on for one that accepts.
    enum class Refusal { WAIT_ON, ENDS_WAIT };

    // A package read and checked: its bytes and the entries of its table.
    struct Package {
        std::string path;
        Common::FileBytes bytes;
        uint32_t length = 0;
        std::vector<Common::FileHead> entries;
    };

    // Waits up to timeout ms for an accepting ACK frame, telling a timeout
    // from a garbled frame, a cancel or a lost line. count bytes of a frame
    // begun earlier are kept in buf between calls. Every examined frame is
    // dropped from buf, and nothing behind an examined frame is read. result:
    // the result byte of a refusing frame that ended the wait.
    AckWait WaitForAck(unsigned char* buf, int bufLength, int& count, uint32_t timeout, Refusal refusal,
                       uint8_t* result = nullptr);
    AckWait WaitForFreshAck(uint32_t timeout, Refusal refusal, uint8_t* result = nullptr);
    bool SendFrameWithAck(const std::vector<uint8_t>& frame);
    bool SendFlashImageFrame(unsigned long burnAddress, unsigned long length, unsigned long burnSize, int type,
                             uint32_t block, int ackWait, int totalWait);
    // A cancel or a lost line ends every wait; true when the caller must stop.
    bool ShouldStop();

    bool BurnPackage(const Package& package);
    // The package of path, read and checked once; null after the message.
    const Package* LoadPackage(const char* path);
    bool CheckTable(const uint8_t* head, uint32_t fileLength, std::vector<Common::FileHead>& entries);
    bool IsSelected(const Common::FileHead& entry) const;
    Common::ImageResult SendImage(const Package& package, const Common::FileHead& entry,
                                  YmodemProtocolSp::YmodemProtocol& sender, Common::Outcome& outcome);
    // The image went out but the board's confirmation did not come intact; why is printed already.
    Common::ImageResult Unconfirmed(const std::string& name, const std::string& why, Common::Outcome& outcome);
    bool SwitchBaudAfterLoader();
    // The upload command, then the YMODEM receive that receiveData runs.
    int Upload(unsigned long addr, uint32_t length,
               const std::function<bool(YmodemProtocolSp::YmodemProtocol&)>& receiveData);

    std::vector<std::string> m_onlyBurnNames;
    Package m_package;
    std::vector<BurnedImage> m_burned;
};

} // namespace BurnVb27ChipSp
