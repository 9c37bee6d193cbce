#include "jobs/burner_worker_base.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <thread>

#include "common/common_util.h"
#include "common/console_output.h"
#include "common/text_format.h"
#include "jobs/cancel_request.h"
#include "platform/file_access.h"
#include "platform/port_access_hint.h"

using BurnInfo::BurnContext;
using BurnInfo::PartitionItem;

namespace {

void PutBigEndian32(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 24));
    out.push_back(static_cast<uint8_t>(value >> 16));
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

} // namespace

BurnerWorkerBase::BurnerWorkerBase(std::unique_ptr<BurnContext> context)
    : m_burnContext(std::move(context)), m_events([this](int percent) { SetProgress(0, percent); })
{
    SetChipType(static_cast<uint32_t>(m_burnContext->GetChipType()));
    RegisterCall();
    m_partitionInfo = m_burnContext->GetPartitionInfo();
    for (const PartitionItem& row : m_partitionInfo) {
        if (!row.sel) {
            continue;
        }
        const uint64_t size = row.fileSize > 0 ? static_cast<uint64_t>(row.fileSize) : 0;
        m_progress.totalLength += size;
        m_progress.partSizeList.push_back(size);
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
    RegisterCallback(SetPrint, CancelRequest::CancelQuery, nullptr);
}

void BurnerWorkerBase::SetPrint(long long /*handle*/, const char* /*tag*/, const char* message, const char* detail,
                                int /*type*/)
{
    ConsoleOutput::Write(message != nullptr ? message : "");
    if (BurnContext::IsOpenDebug()) {
        ConsoleOutput::Write(detail != nullptr ? detail : "");
    }
}

void BurnerWorkerBase::SetProgress(long long /*handle*/, int percent)
{
    OverallProgress& p = m_progress;
    if (!p.isPrintProgress) {
        return;
    }
    if (p.partSizeList.empty() || p.totalLength == 0) {
        Printf("Progress: %d%%\n", percent);
        return;
    }
    uint64_t overall = p.sentSize;
    // The library may report more finished files than there are selected
    // rows (a deselected loader is still transferred); those extra files
    // cannot move the figure past what has been completed.
    if (p.partIndex < p.partSizeList.size()) {
        const uint64_t fileSize = p.partSizeList[p.partIndex];
        const uint64_t clamped = static_cast<uint64_t>(std::clamp(percent, 0, 100));
        overall += clamped * fileSize / 100;
        if (percent == 100) {
            p.sentSize += fileSize;
            ++p.partIndex;
        }
    }
    const float ratio = static_cast<float>(overall) / static_cast<float>(p.totalLength);
    Printf("Progress: %d%%\n", static_cast<int>(100.0f * ratio));
}

void BurnerWorkerBase::Printf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string text = Common::FormatTextV(format, args);
    va_end(args);
    m_events.Message(text, std::string_view());
}

void BurnerWorkerBase::Fail(Common::OutcomeKind kind, const std::string& image, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string text = Common::FormatTextV(format, args);
    va_end(args);
    m_events.Message(text, std::string_view());
    Common::Outcome failure = GetLastFailure(m_deviceHandle);
    if (failure.Ok()) {
        failure = Common::Outcome::Failure(kind, text, image);
    } else if (failure.image.empty()) {
        failure.image = image;
    }
    Keep(failure);
}

void BurnerWorkerBase::Keep(const Common::Outcome& outcome)
{
    if (m_outcome.Ok()) {
        m_outcome = outcome;
    }
}

int BurnerWorkerBase::Failed(int code)
{
    if (m_outcome.Ok()) {
        // Every failing path keeps its failure first; this one stands for a path that did not.
        m_outcome = Common::Outcome::Failure(Common::OutcomeKind::TRANSFER, std::string());
    }
    m_outcome.code = code;
    return code;
}

bool BurnerWorkerBase::InitTransport()
{
    if (m_burnContext->GetTransportWay() == BurnInfo::TransportWay::SERIAL) {
        return InitSerialPortTransport();
    }
    Fail(Common::OutcomeKind::SETTINGS, "", "error: Unknow transport!\n");
    return false;
}

bool BurnerWorkerBase::InitSerialPortTransport()
{
    return OpenBoardPort(static_cast<uint32_t>(m_burnContext->GetBaudRate()));
}

bool BurnerWorkerBase::CreateBoard(uint32_t baudRate)
{
    if (m_deviceHandle == nullptr) {
        m_deviceHandle =
            CreateDevice(m_burnContext->GetPortName(), m_burnContext->GetLineSettings().WithRate(baudRate), &m_events);
    }
    return m_deviceHandle != nullptr;
}

bool BurnerWorkerBase::OpenBoardPort(uint32_t baudRate)
{
    const Common::ResetSequence& reset = m_burnContext->GetResetSequence();
    if (reset.Empty()) {
        Printf("Please reset the device, the waiting time is about 30 seconds.\n");
    } else {
        Printf("The tool resets the device through its modem lines (%s), the waiting time is about 30 "
               "seconds.\n",
               reset.text.c_str());
    }
    m_events.Stage(Common::RunStage::WAITING_FOR_BOARD);
    const std::string port = m_burnContext->GetSerialPort();
    if (CreateBoard(baudRate) && OpenDevice(m_deviceHandle, m_burnContext->GetPortName()) == 0) {
        DestroyDevice(m_deviceHandle);
        m_deviceHandle = nullptr;
    }
    if (m_deviceHandle == nullptr) {
        const std::string lines = "error: Open serial port :" + port +
                                  " failed, It may be caused by the following reasons:\n"
                                  "1. Serial port is occupied or does not exist.\n"
                                  "2. Check baud rate, stop bits, parity is correct.\n";
        Common::Outcome failure = Common::Outcome::Failure(Common::OutcomeKind::PORT, lines);
        failure.hint = Platform::PortAccessHint(port, GetLastOpenError());
        m_events.Message(lines + failure.hint, std::string_view());
        Keep(failure);
        return false;
    }
    if (!reset.Empty()) {
        // Before anything is sent, so the boot ROM is what answers the handshake.
        (void)ResetByModemLines(m_deviceHandle, reset);
    }
    return true;
}

bool BurnerWorkerBase::DownloadBootData()
{
    if (m_partitionInfo.empty()) {
        Fail(Common::OutcomeKind::SETTINGS, "", "\nerror: Burn %s failed!\n", "");
        return false;
    }
    const PartitionItem& loader = m_partitionInfo[0];
    // A deselected loader row still asks for the handshake and the boot wait.
    const char* loaderPath = loader.sel ? loader.selectFile.c_str() : nullptr;
    if (BootDownload(m_deviceHandle, loaderPath, static_cast<uint32_t>(loader.start), 0, nullptr, nullptr) == 0) {
        Fail(Common::OutcomeKind::TRANSFER, loader.selectFile, "\nerror: Burn %s failed!\n",
             loader.selectFile.c_str());
        return false;
    }
    Printf("\nBurn %s successfully.\n", loader.selectFile.c_str());
    return true;
}

int BurnerWorkerBase::Burn()
{
    if (!InitTransport()) {
        return Failed(BurnInfo::INIT_TRANSFER_WAY_FAILED);
    }
    m_progress.isPrintProgress = true;
    if (m_burnContext->GetBurnFile().find(".xml") == std::string::npos) {
        return BurnUART();
    }
    if (!DownloadBootData()) {
        return Failed(BurnInfo::BURN_BOOT_FAILED);
    }
    for (size_t i = 1; i < m_partitionInfo.size(); ++i) {
        const PartitionItem& row = m_partitionInfo[i];
        if (!row.sel) {
            continue;
        }
        if (DownloadToFlash(m_deviceHandle, row.selectFile.c_str(), 0, 0, static_cast<uint32_t>(row.start),
                            static_cast<uint32_t>(row.length), 0, row.fileType) == 0) {
            Fail(Common::OutcomeKind::TRANSFER, row.selectFile, "\nerror: Burn %s failed!\n", row.selectFile.c_str());
            return Failed(BurnInfo::BURN_BOOT_FAILED);
        }
        Printf("\nBurn %s successfully.\n", row.selectFile.c_str());
    }
    return BurnInfo::SUCCESS;
}

// A job without a read must not let the run look like a successful read.
int BurnerWorkerBase::Read()
{
    Fail(Common::OutcomeKind::NOT_OFFERED, "", "chip: %s does not support the read function.\n", ChipName().c_str());
    return Failed(BurnInfo::READ_PARTITION_FAILED);
}

// The "does not support" line alone used to end with result 0, which the
// front end reported as a successful erase.
int BurnerWorkerBase::Erase()
{
    Fail(Common::OutcomeKind::NOT_OFFERED, "", "chip: %s does not support the erase function.\n", ChipName().c_str());
    return Failed(BurnInfo::ERASE_FAILED);
}

int BurnerWorkerBase::BurnTargetBinByXml()
{
    Printf("chip: %s does not support burn targetbin by xml.\n", ChipName().c_str());
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
        return Failed(BurnInfo::ERASE_FAILED);
    }
    if (DownloadToFlash(m_deviceHandle, path.c_str(), 0, 0, static_cast<uint32_t>(address), 0, 0, 0) == 0) {
        Fail(Common::OutcomeKind::TRANSFER, path, "\nerror: Burn %s failed!\n", path.c_str());
        return Failed(BurnInfo::BURN_PARTITION_FAILED);
    }
    if (m_burnContext->GetBurnCheck() != 0 && Family().burnCheck == Common::BurnCheckMeaning::SINGLE_IMAGE_READ_BACK) {
        if (BurnVerification(path.c_str(), address) != BurnInfo::SUCCESS) {
            Fail(Common::OutcomeKind::BURN_CHECK_MISMATCH, path, "\nerror: Burn check failed!\n");
            return Failed(BurnInfo::BURN_CHECK_FAILED);
        }
        Printf("\nBurn check successful!\n");
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
        Fail(Common::OutcomeKind::TRANSFER, path, "\nupload %s failed.\n", uploadPath.c_str());
        return BurnInfo::READ_PARTITION_FAILED;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(VerificationSettleTime(length, m_settleStepMs)));

    std::vector<uint8_t> uploaded;
    uint32_t uploadedLength = 0;
    if (!CommonUtil::GetFileContent(uploadPath, uploaded, uploadedLength)) {
        Fail(Common::OutcomeKind::FILE, path, "\nread %s failed.\n", uploadPath.c_str());
        return BurnInfo::READ_PARTITION_FAILED;
    }
    std::vector<uint8_t> image;
    uint32_t imageLength = 0;
    if (!CommonUtil::GetFileContent(path, image, imageLength)) {
        Fail(Common::OutcomeKind::FILE, path, "\nread %s failed.\n", path);
        return BurnInfo::READ_PARTITION_FAILED;
    }
    if (uploadedLength != imageLength) {
        Fail(Common::OutcomeKind::BURN_CHECK_MISMATCH, path,
             "\nThe length of file %s is different from that of file %s.\n", path, uploadPath.c_str());
        return BurnInfo::BURN_CHECK_FAILED;
    }
    if (!std::equal(image.begin(), image.begin() + imageLength, uploaded.begin())) {
        Fail(Common::OutcomeKind::BURN_CHECK_MISMATCH, path, "\nThe bytes of file %s and file %s are different.\n",
             path, uploadPath.c_str());
        return BurnInfo::BURN_CHECK_FAILED;
    }
    Platform::RemoveFile(uploadPath);
    return BurnInfo::SUCCESS;
}

int BurnerWorkerBase::RebootMcu()
{
    if (m_burnContext->GetReboot() == 0) {
        return BurnInfo::SUCCESS;
    }
    const unsigned long entry = static_cast<uint32_t>(m_burnContext->GetAddress()) + ADDRESS_OFFSET;
    if (!Go(entry)) {
        Fail(Common::OutcomeKind::TRANSFER, "", "error: Go failed.\n");
        return Failed(BurnInfo::SEND_CMD_FAILED);
    }
    Printf("\nreboot successful!\n");
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

// Erase: ERASE_CMD, address big-endian, length big-endian.
bool BurnerWorkerBase::SendEraseCmd(unsigned long address, unsigned long length)
{
    std::vector<uint8_t> command{ERASE_CMD};
    PutBigEndian32(command, static_cast<uint32_t>(address));
    PutBigEndian32(command, static_cast<uint32_t>(length));
    if (!SendBoardCommand(command, nullptr, 0, RESET_TIMEOUT)) {
        Fail(Common::OutcomeKind::TRANSFER, "", "\nerror: erase %d failed!\n",
             static_cast<int>(static_cast<uint32_t>(address)));
        return false;
    }
    return true;
}
