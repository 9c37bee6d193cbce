#include "device/burn_vb27_chip.h"

#include <algorithm>
#include <cstring>

#include "common/file_helpers.h"
#include "platform/monotonic_clock.h"
#include "device/vb27_frames.h"
#include "transport/ymodem_protocol.h"

namespace BurnVb27ChipSp {

namespace {

constexpr uint32_t ERASE_ALL_REGION_SIZE = 0xFFFFFFFFu;
constexpr const char* ACK_TIMEOUT_MESSAGE = "Ack receiving timeout.\n";
constexpr const char* CLOSING_ACK_REFUSED_MESSAGE = "error: the board refused image %s: closing ACK result 0x%02X.\n";
constexpr const char* CLOSING_ACK_GARBLED_MESSAGE = "The closing ACK of %s arrived garbled: the image is unconfirmed.\n";

} // namespace

// --- ACK frames ---------------------------------------------------------------

bool BurnVb27Chip::ShouldStop()
{
    return CheckIsCancel() || LineLost();
}

BurnVb27Chip::AckWait BurnVb27Chip::WaitForAck(unsigned char* buf, int bufLength, int& count, uint32_t timeout,
                                                Refusal refusal, uint8_t* result)
{
    const uint32_t start = Common::GetTime();
    uint32_t lastByte = start;
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
        if (got > 0) {
            count += static_cast<int>(got);
            lastByte = Common::GetTime();
        }
        const Vb27Frames::AckScan scan = Vb27Frames::ScanAckFrame(buf, static_cast<size_t>(count));
        if (scan.consumed > 0) {
            std::memmove(buf, buf + scan.consumed, static_cast<size_t>(count) - scan.consumed);
            count -= static_cast<int>(scan.consumed);
        }
        switch (scan.kind) {
            case Vb27Frames::AckScan::ACCEPTED:
                return AckWait::ACCEPTED;
            case Vb27Frames::AckScan::GARBLED:
                return AckWait::GARBLED;
            case Vb27Frames::AckScan::REFUSED:
                Common::PrintInfo(Events(), Common::NORMAL_INFO, "CheckAckFrame: ack result error: %d\n",
                                  scan.result);
                if (refusal == Refusal::ENDS_WAIT) {
                    if (result != nullptr) {
                        *result = scan.result;
                    }
                    return AckWait::REFUSED;
                }
                continue;
            case Vb27Frames::AckScan::NONE:
                break;
        }
        if (got > 0) {
            continue;
        }
        if (scan.begun && Common::GetTime() - lastByte >= ChipLine::REPLY_GAP_MS) {
            count = 0;
            return AckWait::GARBLED;
        }
        if (!m_line.WaitInWindow(start, timeout)) {
            return LineLost() ? AckWait::ABORTED : AckWait::TIMED_OUT;
        }
    }
}

BurnVb27Chip::AckWait BurnVb27Chip::WaitForFreshAck(uint32_t timeout, Refusal refusal, uint8_t* result)
{
    unsigned char buffer[MAX_RECV_ACK_BUFFER] = {};
    int count = 0;
    return WaitForAck(buffer, MAX_RECV_ACK_BUFFER, count, timeout, refusal, result);
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
        // A garbled ACK ends the wait early: the frame goes again at once.
        const AckWait ack =
            WaitForAck(buffer, MAX_RECV_ACK_BUFFER, count, static_cast<uint32_t>(ackWait), Refusal::WAIT_ON);
        if (ack == AckWait::ACCEPTED) {
            return true;
        }
        if (ack == AckWait::ABORTED) {
            return false;
        }
    }
    m_report.Fail(Common::OutcomeKind::TRANSFER, ACK_TIMEOUT_MESSAGE);
    return false;
}

bool BurnVb27Chip::SendFrameWithAck(const std::vector<uint8_t>& frame)
{
    return SendCommandWithAck(frame.data(), static_cast<int>(frame.size()), COMMAND_FRAME_TIMEOUT,
                              COMMAND_TOTAL_TIMEOUT);
}

// --- handshake ------------------------------------------------------------------

int BurnVb27Chip::SendShakeHandFrame()
{
    const Settings& settings = GetSettings();
    const std::vector<uint8_t> frame =
        Vb27Frames::BuildShakeHandFrame(settings.switchAfterLoader ? Family().bootRate : GetTargetBaudRate());
    const unsigned long frameLength = static_cast<unsigned long>(frame.size());
    const std::string& atReset = settings.atResetCommand;
    unsigned char buffer[MAX_RECV_ACK_BUFFER] = {};
    int count = 0;
    uint32_t framesSent = 0;
    const uint32_t start = Common::GetTime();
    while (Common::GetTime() - start < SHAKEHAND_TOTAL_TIMEOUT) {
        if (ShouldStop()) {
            return 0;
        }
        if (Send(frame.data(), frameLength) < frameLength) {
            continue;
        }
        ++framesSent;
        if (settings.beforeReset && !atReset.empty() && framesSent % AT_COMMAND_HANDSHAKE_INTERVAL == 0) {
            Send(reinterpret_cast<const unsigned char*>(atReset.data()), static_cast<unsigned long>(atReset.size()));
        }
        const AckWait ack = WaitForAck(buffer, MAX_RECV_ACK_BUFFER, count, settings.ctrlPeriod, Refusal::WAIT_ON);
        if (ack == AckWait::ACCEPTED) {
            return 1;
        }
        if (ack == AckWait::ABORTED) {
            return 0;
        }
    }
    m_report.Fail(Common::OutcomeKind::HANDSHAKE, "Shakehand failed, The board does not respond.\n");
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
    return SendFlashImageFrame(burnAddress, length, burnSize, type, Vb27Frames::BLOCK_SIZE, COMMAND_FRAME_TIMEOUT,
                               COMMAND_TOTAL_TIMEOUT);
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
        m_report.Fail(Common::OutcomeKind::TRANSFER, failure);
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
    std::vector<Common::FileHead> entries;
    return CheckTable(head, fileLength, entries);
}

bool BurnVb27Chip::CheckTable(const uint8_t* head, uint32_t fileLength, std::vector<Common::FileHead>& entries)
{
    constexpr Common::OutcomeKind REFUSED = Common::OutcomeKind::PACKAGE_REFUSED;
    Common::FwpkgHead prefix;
    if (head == nullptr || !Common::ReadFwpkgHead(head, fileLength, prefix)) {
        m_report.Fail(REFUSED, "too many image or the header data length is greater than the file length!\n");
        return false;
    }
    if (prefix.flag != Common::FWPKG_FLAG_NORMAL) {
        m_report.FailInfo(REFUSED, "flag(%lu) is not equal to 0xefbeaddf!\n", static_cast<unsigned long>(prefix.flag));
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
            m_report.FailInfo(REFUSED, "The calculated  crc:%d is not equal to fwpkg crc:%d.\n", table.computedCrc,
                              table.head.crc);
            return false;
        default:
            m_report.Fail(REFUSED, "too many image or the header data length is greater than the file length!\n");
            return false;
    }
    if (table.entries.empty() || table.entries.front().type != Common::VB27_IMAGE_LOADER) {
        m_report.Fail(REFUSED, "The first file is not a loader.\n");
        return false;
    }
    if (check == Common::FwpkgCheck::ENTRY_PAST_END && table.badEntry < table.entries.size()) {
        // Burning it would send whatever lies past the package as image bytes.
        const Common::FileHead& bad = table.entries[table.badEntry];
        m_report.FailInfo(REFUSED,
                          "Image %s reaches past the end of the package (offset %u, length %u, file length %u).\n",
                          bad.Name().c_str(), bad.offset, bad.length, fileLength);
        return false;
    }
    entries = std::move(table.entries);
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
                       [&name](const std::string& given) { return Common::OnlyBurnSelects(Family(), name, given); });
}

Common::ImageResult BurnVb27Chip::SendImage(const Package& package, const Common::FileHead& entry,
                                            YmodemProtocolSp::YmodemProtocol& sender, Common::Outcome& outcome)
{
    const std::string name = entry.Name();
    const bool isLoader = (entry.type == Common::VB27_IMAGE_LOADER);
    if (!isLoader && SendCommandFrame(entry) == 0) {
        return Common::ImageResult::FAILED;
    }
    sender.SetSingleFrameDataSize(isLoader || m_packetSize == 0 ? static_cast<int>(YmodemProtocolSp::SINGLE_FRAME_DATA_SIZE_1K)
                                                                 : static_cast<int>(m_packetSize));
    if (!sender.DownloadFile(package.bytes.get() + entry.offset, entry.length, name)) {
        m_report.FailInfo(Common::OutcomeKind::TRANSFER, "Download: %s failed.\n", name.c_str());
        return Common::ImageResult::FAILED;
    }
    uint8_t refusal = 0;
    switch (WaitForFreshAck(IMAGE_ACK_TIMEOUT, Refusal::ENDS_WAIT, &refusal)) {
        case AckWait::ACCEPTED:
            break;
        case AckWait::REFUSED:
            // The board says it could not program the image: nothing after it may be called burned.
            m_report.FailInfo(Common::OutcomeKind::COMMAND_REFUSED, CLOSING_ACK_REFUSED_MESSAGE, name.c_str(),
                              refusal);
            return Common::ImageResult::FAILED;
        case AckWait::ABORTED:
            return Common::ImageResult::FAILED;
        case AckWait::TIMED_OUT:
            // The board took every block but did not confirm the image: the burn goes on.
            Common::Print(Events(), ACK_TIMEOUT_MESSAGE);
            return Unconfirmed(name, ACK_TIMEOUT_MESSAGE, outcome);
        case AckWait::GARBLED: {
            const std::string message = Common::FormatInfo(CLOSING_ACK_GARBLED_MESSAGE, name.c_str());
            Common::Print(Events(), message);
            return Unconfirmed(name, message, outcome);
        }
    }
    Common::PrintInfo(Events(), Common::NORMAL_INFO, "downloaded: %s successfully.\n", name.c_str());
    return Common::ImageResult::CONFIRMED;
}

Common::ImageResult BurnVb27Chip::Unconfirmed(const std::string& name, const std::string& why,
                                              Common::Outcome& outcome)
{
    outcome = Common::Outcome::Failure(Common::OutcomeKind::TRANSFER, why, name);
    Common::PrintInfo(Events(), Common::NORMAL_INFO, "downloaded: %s successfully.\n", name.c_str());
    return Common::ImageResult::UNCONFIRMED;
}

bool BurnVb27Chip::SwitchBaudAfterLoader()
{
    const uint32_t target = GetTargetBaudRate();
    if (target != 0 && !CheckLineRate(target)) {
        return false;
    }
    const std::vector<uint8_t> frame = Vb27Frames::BuildSwitchBaudFrame(target);
    if (Send(frame.data(), static_cast<unsigned long>(frame.size())) == 0) {
        m_report.Fail(Common::OutcomeKind::TRANSFER, "Send switch baud rate frame failed.\n");
        return false;
    }
    if (WaitForFreshAck(SWITCH_BAUD_ACK_TIMEOUT, Refusal::WAIT_ON) != AckWait::ACCEPTED) {
        m_report.Fail(Common::OutcomeKind::TRANSFER, "Wait switch baud rate ACK timeout.\n");
        return false;
    }
    // The board runs at the new rate from here: a line that cannot follow ends the run.
    return target == 0 || ReSettingSerialParameters(target, 0, 0);
}

bool BurnVb27Chip::BurnPackage(const Package& package)
{
    const Settings& settings = GetSettings();
    // Offer the board no rate the line cannot take.
    const uint32_t offered = settings.switchAfterLoader ? Family().bootRate : GetTargetBaudRate();
    if (!CheckLineRate(offered)) {
        return false;
    }
    if (SendShakeHandFrame() == 0) {
        m_report.Fail(Common::OutcomeKind::HANDSHAKE, "Shakehand failed, The board does not respond.\n");
        return false;
    }
    // The board agreed to this rate in the handshake.
    if (!settings.switchAfterLoader && !ReSettingSerialParameters(GetTargetBaudRate(), 0, 0)) {
        return false;
    }
    YmodemProtocolSp::YmodemProtocol sender(this, static_cast<int>(m_packetSize));
    m_burned.clear();
    for (const Common::FileHead& entry : package.entries) {
        if (!IsSelected(entry)) {
            continue;
        }
        m_report.SetImage(entry.Name());
        Events().ImageStarted({entry.Name(), entry.type, entry.burnAddress, -1, entry.length});
        Common::Outcome outcome;
        const Common::ImageResult result = SendImage(package, entry, sender, outcome);
        Events().ImageEnded(result, result == Common::ImageResult::FAILED ? m_report.Failure() : outcome);
        if (result == Common::ImageResult::FAILED) {
            return false;
        }
        m_burned.push_back(
            {entry.Name(), entry.type, entry.burnAddress, package.bytes.get() + entry.offset, entry.length});
        if (m_isOnlyBurnLoader) {
            return true;
        }
        if (settings.switchAfterLoader && entry.type == Common::VB27_IMAGE_LOADER && !SwitchBaudAfterLoader()) {
            return false;
        }
    }
    return true;
}

const BurnVb27Chip::Package* BurnVb27Chip::LoadPackage(const char* path)
{
    const std::string file = (path != nullptr) ? path : "";
    if (m_package.bytes && m_package.path == file) {
        return &m_package;
    }
    m_package = Package();
    m_burned.clear();  // their bytes were those of the package dropped
    uint32_t size = 0;
    Common::FileBytes bytes = Common::GetFileData(file, size, GetThisPtr());
    if (!bytes) {
        m_report.FailInfo(Common::OutcomeKind::FILE, "Get file content failed: %s\n", file.c_str());
        return nullptr;
    }
    std::vector<Common::FileHead> entries;
    if (!CheckTable(bytes.get(), size, entries)) {
        m_report.FailInfo(Common::OutcomeKind::PACKAGE_REFUSED, "File: %s format error!\n", file.c_str());
        return nullptr;
    }
    m_package.path = file;
    m_package.bytes = std::move(bytes);
    m_package.length = size;
    m_package.entries = std::move(entries);
    return &m_package;
}

bool BurnVb27Chip::CheckAllinoneBin(const char* path)
{
    return LoadPackage(path) != nullptr;
}

bool BurnVb27Chip::DownloadAllinoneBin(const char* path, unsigned long /*param*/)
{
    const Package* package = LoadPackage(path);
    return package != nullptr && BurnPackage(*package);
}

// --- erase and read-back ----------------------------------------------------------

bool BurnVb27Chip::EraseAllFlash()
{
    if (!SendFlashImageCmdFrame(0, 0, ERASE_ALL_REGION_SIZE, 0)) {
        m_report.Fail(Common::OutcomeKind::TRANSFER, "Send erase all flash image command failed.\n");
        return false;
    }
    return true;
}

int BurnVb27Chip::Upload(unsigned long addr, uint32_t length,
                         const std::function<bool(YmodemProtocolSp::YmodemProtocol&)>& receiveData)
{
    if (!SendUploadDataFrame(addr, length)) {
        m_report.Fail(Common::OutcomeKind::TRANSFER, "Send upload data command failed.\n");
        return 0;
    }
    // The loader chooses its block size (1 KiB, or that of the images sent
    // before); the receiver sizes each frame by its head byte.
    YmodemProtocolSp::YmodemProtocol receiver(this, static_cast<int>(YmodemProtocolSp::SINGLE_FRAME_DATA_SIZE_1K));
    if (!receiveData(receiver)) {
        m_report.Fail(Common::OutcomeKind::TRANSFER, "Upload file failed.\n");
        return 0;
    }
    return 1;
}

int BurnVb27Chip::UploadFile(unsigned long addr, int length, const char* path)
{
    if (path == nullptr || path[0] == '\0' || length <= 0) {
        m_report.FailInfo(Common::OutcomeKind::SETTINGS, "Upload length %d or path is not valid.\n", length);
        return 0;
    }
    const uint32_t size = static_cast<uint32_t>(length);
    return Upload(addr, size, [&](YmodemProtocolSp::YmodemProtocol& receiver) {
        return receiver.UploadFile(path, size);
    });
}

int BurnVb27Chip::UploadData(unsigned long addr, uint32_t length, std::vector<uint8_t>& data)
{
    data.clear();
    if (length == 0) {
        return 1;  // nothing to ask the board for
    }
    return Upload(addr, length, [&](YmodemProtocolSp::YmodemProtocol& receiver) {
        return receiver.UploadData(data, length);
    });
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
