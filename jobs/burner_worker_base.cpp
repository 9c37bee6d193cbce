#include "jobs/burner_worker_base.h"

#include <filesystem>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "common/common_util.h"
#include "common/fwpkg_format.h"
#include "jobs/cancel_request.h"
#include "jobs/port_access_hint.h"
#include "platform/file_access.h"

using BurnInfo::BurnContext;
using BurnInfo::PartitionItem;

uint32_t BurnerWorkerBase::m_partIndex = 0;
uint64_t BurnerWorkerBase::m_sentSize = 0;
uint64_t BurnerWorkerBase::m_totalLength = 0;
bool BurnerWorkerBase::m_isPrintProgress = false;
std::vector<uint64_t> BurnerWorkerBase::m_partSizeList;

namespace {

Jobs::JobEventSink& EventSink()
{
    static Jobs::JobEventSink sink;
    return sink;
}

// Device messages that explain a failure; the last one is the run's error.
bool IsFailureText(const std::string& text)
{
    std::string lower;
    for (const char c : text) {
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (const char* word : {"error", "fail", "timeout", "cancelled", "does not respond"}) {
        if (lower.find(word) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::string Trimmed(const char* text)
{
    std::string out = text;
    const size_t first = out.find_first_not_of(" \r\n");
    if (first == std::string::npos) {
        return std::string();
    }
    const size_t last = out.find_last_not_of(" \r\n");
    return out.substr(first, last - first + 1);
}

constexpr size_t FWPKG_FLAG_LENGTH = 4;

void PutBigEndian32(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 24));
    out.push_back(static_cast<uint8_t>(value >> 16));
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

} // namespace

BurnerWorkerBase::BurnerWorkerBase(std::unique_ptr<BurnContext> context) : m_burnContext(std::move(context))
{
    SetChipType(static_cast<uint32_t>(m_burnContext->GetChipType()));
    RegisterCall();
    m_partitionInfo = m_burnContext->GetPartitionInfo();

    // One job per process; starting from zero keeps a second job (tests) from
    // inheriting the figures of the first.
    m_partIndex = 0;
    m_sentSize = 0;
    m_totalLength = 0;
    m_isPrintProgress = false;
    m_partSizeList.clear();
    for (const PartitionItem& row : m_partitionInfo) {
        if (!row.sel) {
            continue;
        }
        const uint64_t size = row.fileSize > 0 ? static_cast<uint64_t>(row.fileSize) : 0;
        m_totalLength += size;
        m_partSizeList.push_back(size);
    }
}

BurnerWorkerBase::~BurnerWorkerBase()
{
    if (m_deviceHandle != nullptr) {
        DestroyDevice(m_deviceHandle);
        m_deviceHandle = nullptr;
    }
}

void BurnerWorkerBase::RegisterCall() const
{
    RegisterCallback(SetPrint, CancelRequest::CancelQuery, SetProgress);
    RegisterImageEventCallback(OnImageEvent);
}

void BurnerWorkerBase::SetEventSink(Jobs::JobEventSink sink)
{
    EventSink() = std::move(sink);
}

void BurnerWorkerBase::Emit(const Jobs::JobEvent& event)
{
    if (EventSink()) {
        EventSink()(event);
    }
}

void BurnerWorkerBase::OnImageEvent(const ImageEvent& event)
{
    Jobs::JobEvent out;
    if (event.phase == ImageEvent::Phase::STARTED) {
        out.kind = Jobs::JobEvent::Kind::IMAGE_STARTED;
        out.text = event.name;
        out.imageType = event.type;
        out.address = event.address;
        out.bytes = event.bytes;
    } else {
        out.kind = Jobs::JobEvent::Kind::IMAGE_ENDED;
        out.ok = event.ok;
    }
    Emit(out);
}

void BurnerWorkerBase::SetPrint(long long /*handle*/, const char* /*tag*/, const char* message, const char* detail,
                                int /*type*/)
{
    std::printf("%s", message != nullptr ? message : "");
    if (message != nullptr && IsFailureText(message)) {
        Jobs::JobEvent event;
        event.text = Trimmed(message);
        Emit(event);
    }
    if (BurnContext::IsOpenDebug()) {
        std::printf("%s", detail != nullptr ? detail : "");
    }
    std::fflush(stdout);
}

void BurnerWorkerBase::SetProgress(long long /*handle*/, int percent)
{
    Jobs::JobEvent event;
    event.kind = Jobs::JobEvent::Kind::IMAGE_PROGRESS;
    event.percent = percent;
    Emit(event);
    if (!m_isPrintProgress) {
        std::fflush(stdout);
        return;
    }
    if (!m_partSizeList.empty() && m_totalLength != 0) {
        uint64_t overall = m_sentSize;
        // The library may report more finished files than there are selected
        // rows (a deselected loader is still transferred); those extra files
        // cannot move the figure past what has been completed.
        if (m_partIndex < m_partSizeList.size()) {
            const uint64_t fileSize = m_partSizeList[m_partIndex];
            const uint64_t clamped = static_cast<uint64_t>(std::clamp(percent, 0, 100));
            overall += clamped * fileSize / 100;
            if (percent == 100) {
                m_sentSize += fileSize;
                ++m_partIndex;
            }
        }
        const float ratio = static_cast<float>(overall) / static_cast<float>(m_totalLength);
        std::printf("Progress: %d%%\n", static_cast<int>(100.0f * ratio));
    } else {
        std::printf("Progress: %d%%\n", percent);
    }
    std::fflush(stdout);
}

bool BurnerWorkerBase::InitTransport()
{
    if (m_burnContext->GetTransportWay() == BurnInfo::TransportWay::SERIAL) {
        return InitSerialPortTransport();
    }
    std::printf("error: Unknow transport!\n");
    return false;
}

bool BurnerWorkerBase::InitSerialPortTransport()
{
    return OpenBoardPort(static_cast<uint32_t>(m_burnContext->GetBaudRate()));
}

bool BurnerWorkerBase::OpenBoardPort(uint32_t baudRate)
{
    const Common::ResetSequence& reset = m_burnContext->GetResetSequence();
    if (reset.Empty()) {
        std::printf("Please reset the device, the waiting time is about 30 seconds.\n");
    } else {
        std::printf("The tool resets the device through its modem lines (%s), the waiting time is about 30 "
                    "seconds.\n",
                    reset.text.c_str());
    }
    std::fflush(stdout);
    Jobs::JobEvent waiting;
    waiting.kind = Jobs::JobEvent::Kind::WAITING_FOR_BOARD;
    Emit(waiting);
    const LineSettings settings = m_burnContext->GetLineSettings().WithRate(baudRate);
    const std::string& port = settings.portName;
    m_deviceHandle = OpenLine(m_burnContext->GetPortName(), settings);
    if (m_deviceHandle != nullptr && !reset.Empty()) {
        // Before anything is sent, so the boot ROM is what answers the handshake.
        (void)ResetByModemLines(m_deviceHandle, reset);
    }
    if (m_deviceHandle == nullptr) {
        std::printf("error: Open serial port :%s failed, It may be caused by the following reasons:\n", port.c_str());
        std::printf("1. Serial port is occupied or does not exist.\n");
        std::printf("2. Check baud rate, stop bits, parity is correct.\n");
        Jobs::JobEvent failed;
        failed.text = "Open serial port " + port + " failed";
        Emit(failed);
        Jobs::PrintPortAccessHint(port);
        std::fflush(stdout);
        return false;
    }
    return true;
}

bool BurnerWorkerBase::DownloadBootData()
{
    if (m_partitionInfo.empty()) {
        std::printf("\nerror: Burn %s failed!\n", "");
        return false;
    }
    const PartitionItem& loader = m_partitionInfo[0];
    // A deselected loader row still asks for the handshake and the boot wait.
    const char* loaderPath = loader.sel ? loader.selectFile.c_str() : nullptr;
    if (BootDownload(m_deviceHandle, loaderPath, static_cast<uint32_t>(loader.start), 0, nullptr, nullptr) == 0) {
        std::printf("\nerror: Burn %s failed!\n", loader.selectFile.c_str());
        return false;
    }
    std::printf("\nBurn %s successfully.\n", loader.selectFile.c_str());
    return true;
}

int BurnerWorkerBase::Burn()
{
    if (!InitTransport()) {
        return BurnInfo::INIT_TRANSFER_WAY_FAILED;
    }
    m_isPrintProgress = true;
    if (m_burnContext->GetBurnFile().find(".xml") == std::string::npos) {
        return BurnUART();
    }
    if (!DownloadBootData()) {
        return BurnInfo::BURN_BOOT_FAILED;
    }
    for (size_t i = 1; i < m_partitionInfo.size(); ++i) {
        const PartitionItem& row = m_partitionInfo[i];
        if (!row.sel) {
            continue;
        }
        if (DownloadToFlash(m_deviceHandle, row.selectFile.c_str(), 0, 0, static_cast<uint32_t>(row.start),
                            static_cast<uint32_t>(row.length), 0, row.fileType) == 0) {
            std::printf("\nerror: Burn %s failed!\n", row.selectFile.c_str());
            return BurnInfo::BURN_BOOT_FAILED;
        }
        std::printf("\nBurn %s successfully.\n", row.selectFile.c_str());
    }
    return BurnInfo::SUCCESS;
}

// A job without a read must not let the run look like a successful read.
int BurnerWorkerBase::Read()
{
    std::printf("chip: %s does not support the read function.\n", ChipName().c_str());
    return BurnInfo::READ_PARTITION_FAILED;
}

// The "does not support" line alone used to end with result 0, which the
// front end reported as a successful erase.
int BurnerWorkerBase::Erase()
{
    std::printf("chip: %s does not support the erase function.\n", ChipName().c_str());
    return BurnInfo::ERASE_FAILED;
}

int BurnerWorkerBase::BurnTargetBinByXml()
{
    std::printf("chip: %s does not support burn targetbin by xml.\n", ChipName().c_str());
    return 1;
}

int BurnerWorkerBase::BurnUART()
{
    const int result =
        BurnTargetByUart(m_burnContext->GetBurnFile(), static_cast<uint32_t>(m_burnContext->GetAddress()));
    if (result != BurnInfo::SUCCESS) {
        return result;
    }
    return RebootMcu();
}

int BurnerWorkerBase::BurnTargetByUart(const std::string& path, unsigned long address)
{
    const uint32_t length = CommonUtil::GetFileLen(path);
    if (!SendEraseCmd(address, length)) {
        return BurnInfo::ERASE_FAILED;
    }
    if (DownloadToFlash(m_deviceHandle, path.c_str(), 0, 0, static_cast<uint32_t>(address), 0, 0, 0) == 0) {
        std::printf("\nerror: Burn %s failed!\n", path.c_str());
        return BurnInfo::BURN_PARTITION_FAILED;
    }
    if (m_burnContext->GetBurnCheck() != 0) {
        if (BurnVerification(path.c_str(), address) != BurnInfo::SUCCESS) {
            std::printf("\nerror: Burn check failed!\n");
            return BurnInfo::BURN_CHECK_FAILED;
        }
        std::printf("\nBurn check successful!\n");
    }
    return BurnInfo::SUCCESS;
}

uint64_t BurnerWorkerBase::VerificationSettleTime(uint32_t length, uint32_t stepMs)
{
    const uint64_t steps = (static_cast<uint64_t>(length) + UPLOAD_SLEEP - 1) / UPLOAD_SLEEP;
    return steps * stepMs;
}

int BurnerWorkerBase::BurnVerification(const char* path, unsigned long address)
{
    if (path == nullptr) {
        return BurnInfo::READ_PARTITION_FAILED;
    }
    const std::string uploadPath = m_burnContext->GetExePath() + UPLOAD_FILE_NAME;
    const uint32_t length = CommonUtil::GetFileLen(path);
    if (UploadFile(m_deviceHandle, static_cast<uint32_t>(address), length, uploadPath.c_str()) == 0) {
        std::printf("\nupload %s failed.\n", uploadPath.c_str());
        return BurnInfo::READ_PARTITION_FAILED;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(VerificationSettleTime(length, m_settleStepMs)));

    std::vector<uint8_t> uploaded;
    uint32_t uploadedLength = 0;
    if (!CommonUtil::GetFileContent(uploadPath, uploaded, uploadedLength)) {
        std::printf("\nread %s failed.\n", uploadPath.c_str());
        return BurnInfo::READ_PARTITION_FAILED;
    }
    std::vector<uint8_t> image;
    uint32_t imageLength = 0;
    if (!CommonUtil::GetFileContent(path, image, imageLength)) {
        std::printf("\nread %s failed.\n", path);
        return BurnInfo::READ_PARTITION_FAILED;
    }
    if (uploadedLength != imageLength) {
        std::printf("\nThe length of file %s is different from that of file %s.\n", path, uploadPath.c_str());
        return BurnInfo::BURN_CHECK_FAILED;
    }
    if (!std::equal(image.begin(), image.begin() + imageLength, uploaded.begin())) {
        std::printf("\nThe bytes of file %s and file %s are different.\n", path, uploadPath.c_str());
        return BurnInfo::BURN_CHECK_FAILED;
    }
    Platform::RemoveFile(uploadPath);
    return BurnInfo::SUCCESS;
}

// Only the flag is needed, so only the first four bytes are read; a file that
// cannot be opened or is shorter than the flag is not a package.
bool BurnerWorkerBase::IsAllinoneFile(const char* path) const
{
    if (path == nullptr) {
        return false;
    }
    std::ifstream file(std::filesystem::u8path(path), std::ios::binary);
    if (!file) {
        std::printf("error: Open file failed: %s\n", path);
        return false;
    }
    uint8_t flag[FWPKG_FLAG_LENGTH] = {};
    file.read(reinterpret_cast<char*>(flag), FWPKG_FLAG_LENGTH);
    if (file.gcount() != static_cast<std::streamsize>(FWPKG_FLAG_LENGTH)) {
        return false;
    }
    // Stored little-endian: the file starts DF AD BE EF.
    const uint32_t value = static_cast<uint32_t>(flag[0]) | (static_cast<uint32_t>(flag[1]) << 8) |
                           (static_cast<uint32_t>(flag[2]) << 16) | (static_cast<uint32_t>(flag[3]) << 24);
    return value == Common::FWPKG_FLAG_NORMAL;
}

int BurnerWorkerBase::RebootMcu()
{
    if (m_burnContext->GetReboot() == 0) {
        return BurnInfo::SUCCESS;
    }
    const unsigned long entry = static_cast<uint32_t>(m_burnContext->GetAddress()) + ADDRESS_OFFSET;
    if (!Go(entry)) {
        std::printf("error: Go failed.\n");
        return BurnInfo::SEND_CMD_FAILED;
    }
    std::printf("\nreboot successful!\n");
    return BurnInfo::SUCCESS;
}

bool BurnerWorkerBase::SendBoardCommand(std::vector<uint8_t> command, unsigned char* reply, int replySize,
                                        int timeout)
{
    return SendCmd(m_deviceHandle, command.data(), static_cast<uint32_t>(command.size()), reply, replySize,
                   timeout) != 0;
}

// Go: GO_CMD, then the entry address big-endian.
bool BurnerWorkerBase::Go(unsigned long address)
{
    if (m_deviceHandle == nullptr) {
        return false;
    }
    std::vector<uint8_t> command{GO_CMD};
    PutBigEndian32(command, static_cast<uint32_t>(address));
    return SendBoardCommand(command, nullptr, 0, RESET_TIMEOUT);
}

bool BurnerWorkerBase::ResetBySerial()
{
    if (!SendBoardCommand({RESET_CMD}, nullptr, 0, RESET_TIMEOUT)) {
        std::printf("error: Reset board failed.\n");
        return false;
    }
    return true;
}

// Erase: ERASE_CMD, address big-endian, length big-endian.
bool BurnerWorkerBase::SendEraseCmd(unsigned long address, unsigned long length)
{
    std::vector<uint8_t> command{ERASE_CMD};
    PutBigEndian32(command, static_cast<uint32_t>(address));
    PutBigEndian32(command, static_cast<uint32_t>(length));
    if (!SendBoardCommand(command, nullptr, 0, RESET_TIMEOUT)) {
        std::printf("\nerror: erase %d failed!\n", static_cast<int>(static_cast<uint32_t>(address)));
        return false;
    }
    return true;
}

int BurnerWorkerBase::BurnLoadTarget()
{
    const std::string burnFile = m_burnContext->GetBurnFile();
    const uint32_t address = static_cast<uint32_t>(m_burnContext->GetAddress());
    if (IsAllinoneFile(burnFile.c_str())) {
        if (DownloadAllinoneBin(m_deviceHandle, burnFile.c_str(), address) == 0) {
            std::printf("\nerror: Burn %s failed!\n", burnFile.c_str());
            return BurnInfo::BURN_BOOT_FAILED;
        }
        return BurnInfo::SUCCESS;
    }
    const std::string loader = m_burnContext->GetLoaderPath();
    if (BootDownload(m_deviceHandle, loader.c_str(), static_cast<uint32_t>(m_burnContext->GetLoaderAddress()), 0,
                     nullptr, nullptr) == 0) {
        return BurnInfo::BURN_BOOT_FAILED;
    }
    if (DownloadToFlash(m_deviceHandle, burnFile.c_str(), 0, 0, address, 0, 0, 0) == 0) {
        return BurnInfo::BURN_BOOT_FAILED;
    }
    if (m_burnContext->GetReboot() != 0 && !ResetBySerial()) {
        return BurnInfo::SEND_CMD_FAILED;
    }
    return BurnInfo::SUCCESS;
}

bool BurnerWorkerBase::SendCommand(const std::string& text)
{
    std::printf("\nSend command: %s\n", text.c_str());
    unsigned char reply[MAX_RECV_MSG_LEN] = {};
    return SendBoardCommand(std::vector<uint8_t>(text.begin(), text.end()), reply, MAX_RECV_MSG_LEN,
                            EXE_COMMAND_TIMEOUT);
}

bool BurnerWorkerBase::ResetBoard()
{
    static const std::string RESET_TEXT = "reset";
    std::printf("\nSend command: %s\n", RESET_TEXT.c_str());
    const bool sent =
        SendBoardCommand(std::vector<uint8_t>(RESET_TEXT.begin(), RESET_TEXT.end()), nullptr, 0, EXE_COMMAND_TIMEOUT);
    std::printf("%s\n", sent ? "reset success!" : "reset failed!");
    return sent;
}
