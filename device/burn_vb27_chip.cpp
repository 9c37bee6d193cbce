#include "device/burn_vb27_chip.h"

#include <algorithm>
#include <cstring>

#include "common/chip_family.h"
#include "common/console.h"
#include "common/file_helpers.h"
#include "platform/monotonic_clock.h"
#include "common/fwpkg_format.h"
#include "device/image_events.h"
#include "device/vb27_frames.h"
#include "transport/ymodem_protocol.h"

namespace BurnVb27ChipSp {

namespace {

constexpr uint32_t ERASE_ALL_REGION_SIZE = 0xFFFFFFFFu;

} // namespace

// --- ACK frames ---------------------------------------------------------------

bool BurnVb27Chip::CheckAckFrame(const unsigned char* buf, int length)
{
    if (buf == nullptr || length < static_cast<int>(Vb27Frames::ACK_FRAME_LEN)) {
        return false;
    }
    const Vb27Frames::AckScan scan = Vb27Frames::ScanAckFrame(buf, static_cast<size_t>(length));
    if (scan.kind == Vb27Frames::AckScan::REFUSED) {
        Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "CheckAckFrame: ack result error: %d\n",
                          scan.result);
    }
    return scan.kind == Vb27Frames::AckScan::ACCEPTED;
}

bool BurnVb27Chip::ShouldStop()
{
    return CheckIsCancel() || LineLost();
}

BurnVb27Chip::AckWait BurnVb27Chip::WaitForAck(unsigned char* buf, int bufLength, int& count, uint32_t timeout)
{
    const uint32_t start = Common::GetTime();
    for (;;) {
        if (ShouldStop()) {
            return AckWait::ABORTED;
        }
        if (count < 0 || count >= bufLength) {
            count = 0;
            return AckWait::TIMED_OUT;
        }
        // Read no further than the end of a frame that could begin at buf[0]:
        // what follows an ACK frame (a YMODEM 'C') is the next reader's.
        const int frameRest = static_cast<int>(Vb27Frames::ACK_FRAME_LEN) - count;
        const int want = std::min(std::max(frameRest, 1), bufLength - count);
        const unsigned long got = Receive(buf + count, static_cast<unsigned long>(want));
        count += static_cast<int>(got);
        if (got > 0) {
            const Vb27Frames::AckScan scan = Vb27Frames::ScanAckFrame(buf, static_cast<size_t>(count));
            if (scan.consumed > 0) {
                std::memmove(buf, buf + scan.consumed, static_cast<size_t>(count) - scan.consumed);
                count -= static_cast<int>(scan.consumed);
            }
            if (scan.kind == Vb27Frames::AckScan::ACCEPTED) {
                return AckWait::ACCEPTED;
            }
            if (scan.kind == Vb27Frames::AckScan::REFUSED) {
                Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "CheckAckFrame: ack result error: %d\n",
                                  scan.result);
            }
            continue;
        }
        if (!WaitInWindow(start, timeout)) {
            return LineLost() ? AckWait::ABORTED : AckWait::TIMED_OUT;
        }
    }
}

bool BurnVb27Chip::ReceiveAckAndCheck(unsigned char* buf, int bufLength, int& count, int timeout)
{
    if (buf == nullptr || bufLength < static_cast<int>(Vb27Frames::ACK_FRAME_LEN) || timeout < 0) {
        return false;
    }
    return WaitForAck(buf, bufLength, count, static_cast<uint32_t>(timeout)) == AckWait::ACCEPTED;
}

BurnVb27Chip::AckWait BurnVb27Chip::WaitForFreshAck(uint32_t timeout)
{
    unsigned char buffer[MAX_RECV_ACK_BUFFER] = {};
    int count = 0;
    return WaitForAck(buffer, MAX_RECV_ACK_BUFFER, count, timeout);
}

bool BurnVb27Chip::SendCommandWithAck(const unsigned char* frame, int length, int ackWait, int totalWait)
{
    if (frame == nullptr || length <= 0 || ackWait < 0 || totalWait < 0) {
        return false;
    }
    unsigned char buffer[MAX_RECV_ACK_BUFFER] = {};
    int count = 0;
    const uint32_t start = Common::GetTime();
    while (Common::GetTime() - start < static_cast<uint32_t>(totalWait)) {
        if (ShouldStop()) {
            return false;
        }
        if (Send(frame, static_cast<unsigned long>(length)) < static_cast<unsigned long>(length)) {
            continue;
        }
        Common::PrintSendRecv(0, frame, static_cast<uint32_t>(length));
        const AckWait ack = WaitForAck(buffer, MAX_RECV_ACK_BUFFER, count, static_cast<uint32_t>(ackWait));
        if (ack == AckWait::ACCEPTED) {
            return true;
        }
        if (ack == AckWait::ABORTED) {
            return false;
        }
    }
    Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "Ack receiving timeout.\n");
    return false;
}

bool BurnVb27Chip::SendFrameWithAck(const std::vector<uint8_t>& frame)
{
    return SendCommandWithAck(frame.data(), static_cast<int>(frame.size()), m_windows.commandAck,
                              m_windows.commandTotal);
}

// --- handshake ------------------------------------------------------------------

int BurnVb27Chip::SendShakeHandFrame()
{
    const std::vector<uint8_t> frame =
        Vb27Frames::BuildShakeHandFrame(m_switchAfterLoader ? Family().bootRate : m_lineSettings.baudRate);
    const unsigned long frameLength = static_cast<unsigned long>(frame.size());
    unsigned char buffer[MAX_RECV_ACK_BUFFER] = {};
    int count = 0;
    uint32_t framesSent = 0;
    const uint32_t start = Common::GetTime();
    while (Common::GetTime() - start < m_windows.handshakeTotal) {
        if (ShouldStop()) {
            return 0;
        }
        if (Send(frame.data(), frameLength) < frameLength) {
            continue;
        }
        ++framesSent;
        if (m_beforeReset && !m_atResetCommand.empty() && framesSent % AT_COMMAND_HANDSHAKE_INTERVAL == 0) {
            Send(reinterpret_cast<const unsigned char*>(m_atResetCommand.data()),
                 static_cast<unsigned long>(m_atResetCommand.size()));
        }
        const AckWait ack = WaitForAck(buffer, MAX_RECV_ACK_BUFFER, count, m_ctrlPeriod);
        if (ack == AckWait::ACCEPTED) {
            return 1;
        }
        if (ack == AckWait::ABORTED) {
            return 0;
        }
    }
    Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "Shakehand failed, The board does not respond.\n");
    return 0;
}

// --- command frames -------------------------------------------------------------

bool BurnVb27Chip::SendVersionCmdFrame(const Common::FileHead& entry)
{
    return SendFrameWithAck(Vb27Frames::BuildVersionFrame(entry.length));
}

bool BurnVb27Chip::SendOtpOrEfuseCmdFrame(const Common::FileHead& entry)
{
    return SendFrameWithAck(Vb27Frames::BuildOtpEfuseFrame(entry.length));
}

bool BurnVb27Chip::SendFactoryCmdFrame(const Common::FileHead& entry)
{
    return SendFrameWithAck(Vb27Frames::BuildFactoryFrame(
        entry.burnAddress, entry.length, Vb27Frames::RoundBurnSize(entry.burnSize, Vb27Frames::BLOCK_SIZE)));
}

bool BurnVb27Chip::SendNvOrKvCmdFrame(const Common::FileHead& entry)
{
    return SendFrameWithAck(Vb27Frames::BuildNvKvFrame(
        entry.burnAddress, entry.length, Vb27Frames::RoundBurnSize(entry.burnSize, Vb27Frames::BLOCK_SIZE)));
}

bool BurnVb27Chip::SendFlashImageFrame(unsigned long burnAddress, unsigned long length, unsigned long burnSize,
                                       int type, uint32_t block, int ackWait, int totalWait)
{
    const std::vector<uint8_t> frame = Vb27Frames::BuildFlashImageFrame(
        static_cast<uint32_t>(burnAddress), static_cast<uint32_t>(length),
        Vb27Frames::RoundBurnSize(static_cast<uint32_t>(burnSize), block),
        Vb27Frames::FormatByteForImageType(static_cast<uint32_t>(type)));
    return SendCommandWithAck(frame.data(), static_cast<int>(frame.size()), ackWait, totalWait);
}

bool BurnVb27Chip::SendFlashImageCmdFrame(unsigned long burnAddress, unsigned long length, unsigned long burnSize,
                                          int type)
{
    return SendFlashImageFrame(burnAddress, length, burnSize, type, Vb27Frames::BLOCK_SIZE, m_windows.commandAck,
                               m_windows.commandTotal);
}

int BurnVb27Chip::SendCommandFrame(const Common::FileHead& entry)
{
    bool acknowledged = false;
    const char* failure = nullptr;
    switch (Common::Vb27CommandForImageType(entry.type)) {
        case Common::Vb27ImageCommand::VERSION:
            acknowledged = SendVersionCmdFrame(entry);
            failure = "Send download version command failed.\n";
            break;
        case Common::Vb27ImageCommand::FACTORY:
            acknowledged = SendFactoryCmdFrame(entry);
            failure = "Send download factory bin command failed.\n";
            break;
        case Common::Vb27ImageCommand::NV_KV:
            acknowledged = SendNvOrKvCmdFrame(entry);
            failure = "Send download NV/KV command configuration failed.\n";
            break;
        case Common::Vb27ImageCommand::OTP_EFUSE:
            acknowledged = SendOtpOrEfuseCmdFrame(entry);
            failure = "Send download OTP/e-Fuse configuration command failed.\n";
            break;
        default:
            acknowledged = SendFlashImageCmdFrame(entry.burnAddress, entry.length, entry.burnSize,
                                                  static_cast<int>(entry.type));
            failure = "Send download flash image command failed.\n";
            break;
    }
    if (!acknowledged) {
        Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "%s", failure);
        return 0;
    }
    return 1;
}

bool BurnVb27Chip::SendUploadDataFrame(unsigned long addr, unsigned long length)
{
    return SendFrameWithAck(
        Vb27Frames::BuildUploadFrame(static_cast<uint32_t>(length), static_cast<uint32_t>(addr)));
}

// --- package --------------------------------------------------------------------

bool BurnVb27Chip::CheckFwpkgHeadData(const uint8_t* head, uint32_t fileLength)
{
    const long long handle = GetThisPtr();
    Common::FwpkgHead prefix;
    if (head == nullptr || !Common::ReadFwpkgHead(head, fileLength, prefix)) {
        Common::PrintInfo(handle, Common::NORMAL_INFO,
                          "too many image or the header data length is greater than the file length!\n");
        return false;
    }
    if (prefix.flag != Common::FWPKG_FLAG_NORMAL) {
        Common::PrintInfo(handle, Common::NORMAL_INFO, "flag(%lu) is not equal to 0xefbeaddf!\n",
                          static_cast<unsigned long>(prefix.flag));
        return false;
    }
    Common::FwpkgTable table;
    const Common::FwpkgCheck check =
        Common::CheckFwpkgTable(head, fileLength, fileLength, Common::FWPKG_MAX_IMAGE_COUNT, table);
    switch (check) {
        case Common::FwpkgCheck::OK:
        case Common::FwpkgCheck::ENTRY_PAST_END:
            break;
        case Common::FwpkgCheck::CRC_MISMATCH:
            Common::PrintInfo(handle, Common::NORMAL_INFO, "The calculated  crc:%d is not equal to fwpkg crc:%d.\n",
                              table.computedCrc, table.head.crc);
            return false;
        default:
            Common::PrintInfo(handle, Common::NORMAL_INFO,
                              "too many image or the header data length is greater than the file length!\n");
            return false;
    }
    if (table.entries.empty() || table.entries.front().type != Common::VB27_IMAGE_LOADER) {
        Common::PrintInfo(handle, Common::NORMAL_INFO, "The first file is not a loader.\n");
        return false;
    }
    if (check == Common::FwpkgCheck::ENTRY_PAST_END && table.badEntry < table.entries.size()) {
        // Burning it would send whatever lies past the package as image bytes.
        const Common::FileHead& bad = table.entries[table.badEntry];
        Common::PrintInfo(handle, Common::NORMAL_INFO,
                          "Image %s reaches past the end of the package (offset %u, length %u, file length %u).\n",
                          bad.Name().c_str(), bad.offset, bad.length, fileLength);
        return false;
    }
    return check == Common::FwpkgCheck::OK;
}

bool BurnVb27Chip::IsSelected(const Common::FileHead& entry) const
{
    if (Common::Vb27CommandForImageType(entry.type) == Common::Vb27ImageCommand::NOT_SENT) {
        return false;
    }
    if (m_onlyBurnNames.empty()) {
        return true;
    }
    const std::string name = entry.Name();
    return std::any_of(m_onlyBurnNames.begin(), m_onlyBurnNames.end(),
                       [this, &name](const std::string& given) { return Common::OnlyBurnSelects(Family(), name, given); });
}

bool BurnVb27Chip::SendImage(const uint8_t* package, const Common::FileHead& entry,
                             YmodemProtocolSp::YmodemProtocol& sender)
{
    const std::string name = entry.Name();
    if (entry.type != Common::VB27_IMAGE_LOADER && SendCommandFrame(entry) == 0) {
        return false;
    }
    const bool isLoader = (entry.type == Common::VB27_IMAGE_LOADER);
    sender.SetSingleFrameDataSize(isLoader || m_packetSize == 0 ? static_cast<int>(YmodemProtocolSp::SINGLE_FRAME_DATA_SIZE_1K)
                                                                 : static_cast<int>(m_packetSize));
    if (!sender.DownloadFile(package + entry.offset, entry.length, name)) {
        Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "Download: %s failed.\n", name.c_str());
        return false;
    }
    const AckWait ack = WaitForFreshAck(m_windows.imageAck);
    if (ack == AckWait::ABORTED) {
        return false;
    }
    if (ack == AckWait::TIMED_OUT) {
        Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "Ack receiving timeout.\n");
    }
    Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "downloaded: %s successfully.\n", name.c_str());
    return true;
}

bool BurnVb27Chip::SwitchBaudAfterLoader()
{
    if (m_targetBaudRate != 0 && !CheckLineRate(m_targetBaudRate)) {
        return false;
    }
    const std::vector<uint8_t> frame = Vb27Frames::BuildSwitchBaudFrame(m_targetBaudRate);
    if (Send(frame.data(), static_cast<unsigned long>(frame.size())) == 0) {
        Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "Send switch baud rate frame failed.\n");
        return false;
    }
    if (WaitForFreshAck(m_windows.switchBaudAck) != AckWait::ACCEPTED) {
        Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "Wait switch baud rate ACK timeout.\n");
        return false;
    }
    // The board runs at the new rate from here: a line that cannot follow ends the run.
    return m_targetBaudRate == 0 || ReSettingSerialParameters(m_targetBaudRate, 0, 0);
}

bool BurnVb27Chip::BurnPackage(const uint8_t* package, uint32_t fileLength)
{
    // Offer the board no rate the line cannot take.
    const uint32_t offered = m_switchAfterLoader ? Family().bootRate : m_lineSettings.baudRate;
    if (!CheckLineRate(offered)) {
        return false;
    }
    if (SendShakeHandFrame() == 0) {
        Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "Shakehand failed, The board does not respond.\n");
        return false;
    }
    // The board agreed to this rate in the handshake.
    if (!m_switchAfterLoader && !ReSettingSerialParameters(m_lineSettings.baudRate, 0, 0)) {
        return false;
    }
    YmodemProtocolSp::YmodemProtocol sender(this, static_cast<int>(m_packetSize));
    const std::vector<Common::FileHead> entries = Common::ReadFwpkgEntries(package, fileLength);
    for (const Common::FileHead& entry : entries) {
        if (!IsSelected(entry)) {
            continue;
        }
        ImageEvent event{ImageEvent::Phase::STARTED, entry.Name(), entry.type, entry.burnAddress, entry.length};
        ReportImageEvent(event);
        event.phase = ImageEvent::Phase::ENDED;
        event.ok = SendImage(package, entry, sender);
        ReportImageEvent(event);
        if (!event.ok) {
            return false;
        }
        if (m_isOnlyBurnLoader) {
            return true;
        }
        if (m_switchAfterLoader && entry.type == Common::VB27_IMAGE_LOADER && !SwitchBaudAfterLoader()) {
            return false;
        }
    }
    return true;
}

std::unique_ptr<uint8_t[]> BurnVb27Chip::LoadPackage(const char* path, uint32_t& size)
{
    const std::string file = (path != nullptr) ? path : "";
    std::unique_ptr<uint8_t[]> package = Common::GetFileData(file, size, GetThisPtr());
    if (!package) {
        Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "Get file content failed: %s\n", file.c_str());
        return nullptr;
    }
    if (!CheckFwpkgHeadData(package.get(), size)) {
        Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "File: %s format error!\n", file.c_str());
        return nullptr;
    }
    return package;
}

bool BurnVb27Chip::CheckAllinoneBin(const char* path)
{
    uint32_t size = 0;
    return LoadPackage(path, size) != nullptr;
}

bool BurnVb27Chip::DownloadAllinoneBin(const char* path, unsigned long /*param*/)
{
    uint32_t size = 0;
    std::unique_ptr<uint8_t[]> package = LoadPackage(path, size);
    if (!package) {
        return false;
    }
    m_fileLength = size;
    return BurnPackage(package.get(), size);
}

// --- erase and read-back ----------------------------------------------------------

bool BurnVb27Chip::EraseAllFlash()
{
    if (!SendFlashImageCmdFrame(0, 0, ERASE_ALL_REGION_SIZE, 0)) {
        Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "Send erase all flash image command failed.\n");
        return false;
    }
    return true;
}

int BurnVb27Chip::UploadFile(unsigned long addr, int length, const char* path)
{
    if (path == nullptr || path[0] == '\0' || length <= 0) {
        Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "Upload length %d or path is not valid.\n", length);
        return 0;
    }
    m_isUpload = true;
    if (!SendUploadDataFrame(addr, static_cast<unsigned long>(length))) {
        Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "Send upload data command failed.\n");
        return 0;
    }
    // The loader sends 1 KiB frames whatever packet size the download used;
    // the receiver sizes each frame by its head byte in any case.
    YmodemProtocolSp::YmodemProtocol receiver(this, static_cast<int>(YmodemProtocolSp::SINGLE_FRAME_DATA_SIZE_1K));
    if (!receiver.UploadFile(path, static_cast<uint32_t>(length))) {
        Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "Upload file failed.\n");
        return 0;
    }
    return 1;
}

// --- settings ---------------------------------------------------------------------

void BurnVb27Chip::SetOnlyBurnNames(const std::vector<std::string>& names)
{
    m_onlyBurnNames = names;
}

std::vector<std::string> BurnVb27Chip::GetOnlyBurnNames() const
{
    return m_onlyBurnNames;
}

} // namespace BurnVb27ChipSp
