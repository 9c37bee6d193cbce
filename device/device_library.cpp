#include "device/device_library.h"

#include <memory>
#include <new>
#include <string>

#include "common/chip_families.h"
#include "device/burn_qn4180_chip.h"
#include "device/burn_vb27_chip.h"
#include "device/typesix_chip_factory.h"
#include "transport/line_factory.h"
#include "transport/modem_reset.h"

namespace {

constexpr uint32_t OPEN_BAUD_RATE = 115200;
constexpr uint32_t DEPARTMENT_SHIFT = 16;
constexpr uint32_t DEPARTMENT_MASK = 0xFF;

int g_lastOpenError = 0;

bool HandleOk(DeviceHandle handle)
{
    if (handle == nullptr) {
        Common::Print("invalid handle.\n");
        return false;
    }
    return true;
}

bool IsEmpty(const char* text)
{
    return text == nullptr || text[0] == '\0';
}

std::unique_ptr<BurnChipBase> NewChipForType(uint32_t chipType)
{
    switch (chipType) {
        case Common::VB27_CHIP_TYPE:
            return std::unique_ptr<BurnChipBase>(new (std::nothrow) BurnVb27ChipSp::BurnVb27Chip());
        case Common::QN4180_CHIP_TYPE:
            return std::unique_ptr<BurnChipBase>(new (std::nothrow) BurnQn4180ChipSp::BurnQn4180Chip());
        case Common::TYPESIX_CHIP_TYPE:
            return NewTypeSixChip();
        default:
            return nullptr;
    }
}

// The chip object of the type SetChipType chose; only the connection-chip
// department has any.
std::unique_ptr<BurnChipBase> NewChipForSelectedType()
{
    std::unique_ptr<BurnChipBase> chip;
    if (BurnChipBase::m_department == Common::CONNECTION_DEPARTMENT) {
        chip = NewChipForType(BurnChipBase::m_chipType);
    }
    if (!chip) {
        Common::Print("new transport failed\n");
    }
    return chip;
}

// Both Vb27-family chips take the package's loader through their own
// download (the caller sets "loader only"); other families boot a loader file.
bool UsesPackageLoader(uint32_t chipType)
{
    return chipType == Common::VB27_CHIP_TYPE || chipType == Common::QN4180_CHIP_TYPE;
}

} // namespace

void RegisterCallback(PrintInfoCallback print, IsCancelledCallback isCancelled, SetProgressCallback setProgress)
{
    g_printInfo = print;
    g_isCancelled = isCancelled;
    g_setProgress = setProgress;
}

void SetChipType(uint32_t chipType)
{
    BurnChipBase::m_chipType = chipType;
    BurnChipBase::m_department = (chipType >> DEPARTMENT_SHIFT) & DEPARTMENT_MASK;
}

void SetIsEraseBeforeBurn(uint32_t value)
{
    BurnChipBase::m_isEraseBeforeBurn = (value != 0);
}

void SetIsOnlyBurnLoader(uint32_t value)
{
    BurnChipBase::m_isOnlyBurnLoader = (value != 0);
}

void SetIsBurnDeviceInfo(uint32_t value)
{
    BurnChipBase::m_isBurnDeviceInfo = (value != 0);
}

void SetPacketSize(uint32_t size)
{
    BurnChipBase::m_packetSize = size;
}

int GetSerialPortList(char* buffer, int size)
{
    if (buffer == nullptr) {
        return -1;
    }
    return BurnChipBase::InitSerialPortList(buffer, size);
}

DeviceHandle OpenSerialPort(const char* comName, uint32_t baudRate, int stopBit, int parity)
{
    if (comName == nullptr) {
        g_lastOpenError = 0;
        Common::Print("com name is null\n");
        return nullptr;
    }
    LineSettings settings;
    settings.baudRate = baudRate;
    settings.stopBits = static_cast<uint32_t>(stopBit);
    settings.parity = static_cast<uint32_t>(parity);
    return OpenLine(ParsePortName(comName), settings);
}

DeviceHandle OpenLine(const PortName& port, const LineSettings& runSettings)
{
    LineSettings settings = runSettings;
    settings.portName = port.text;
    g_lastOpenError = 0;
    std::unique_ptr<BurnChipBase> chip = NewChipForSelectedType();
    if (!chip) {
        return nullptr;
    }
    chip->SetLineSettings(settings);
    std::unique_ptr<TransportTypeBase> line = NewLine(port);
    if (!line) {
        return nullptr;
    }
    chip->AttachLine(std::move(line));
    if (chip->OpenSerialPort(settings.portName.c_str(), OPEN_BAUD_RATE, 0, 0) == 0) {
        g_lastOpenError = chip->GetTransportErrorCode();
        return nullptr;
    }
    return chip.release();
}

int CheckAllinoneBin(const char* path)
{
    if (IsEmpty(path)) {
        Common::Print("burn file path is null.\n");
        return 0;
    }
    std::unique_ptr<BurnChipBase> chip = NewChipForSelectedType();
    if (!chip) {
        return 0;
    }
    return chip->CheckAllinoneBin(path) ? 1 : 0;
}

int GetLastOpenError()
{
    return g_lastOpenError;
}

int DestroyDevice(DeviceHandle handle)
{
    std::unique_ptr<BurnChipBase> chip(handle);
    return 1;
}

int Reset(DeviceHandle handle)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    return handle->Reset() ? 1 : 0;
}

int ResetByModemLines(DeviceHandle handle, const Common::ResetSequence& sequence)
{
    if (!HandleOk(handle) || handle->GetTransport() == nullptr) {
        return 0;
    }
    return ModemReset::ApplyResetSequence(*handle->GetTransport(), sequence) ? 1 : 0;
}

int Cancel(DeviceHandle handle)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    handle->SetIsCancel();
    return 1;
}

int BootDownload(DeviceHandle handle, const char* bootFile, uint32_t bootDdrAddr, int parameter,
                 const char* /*unused*/, uint64_t* outBootDdrAddr)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    const bool bootFileAbsent = IsEmpty(bootFile);
    handle->SetParameters(parameter, bootFileAbsent);
    handle->SetBootDdrAddr(bootDdrAddr);
    if (!handle->ShakeHand()) {
        return 0;
    }
    if (!bootFileAbsent) {
        if (!handle->FilePrepare(bootFile) || !handle->InitBoard() || !handle->SecurityVerification() ||
            !handle->InitDdr() || !handle->DownloadBootData()) {
            return 0;
        }
    }
    if (!handle->WaitBootRun()) {
        Common::Print("Failed to wait the boot to run.\n");
        return 0;
    }
    if (outBootDdrAddr != nullptr) {
        *outBootDdrAddr = handle->GetBootDdrAddr();
    }
    return 1;
}

int DownloadAllinoneBin(DeviceHandle handle, const char* path, uint32_t parameter)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    if (IsEmpty(path)) {
        Common::Print("burn file path is null.\n");
        return 0;
    }
    return handle->DownloadAllinoneBin(path, parameter) ? 1 : 0;
}

int EraseAllFlash(DeviceHandle handle, const char* file)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    if (file != nullptr) {
        if (UsesPackageLoader(BurnChipBase::m_chipType)) {
            if (!handle->DownloadAllinoneBin(file, 0)) {
                return 0;
            }
        } else if (BootDownload(handle, file, 0, 0, nullptr, nullptr) == 0) {
            Common::PrintInfo(handle->GetThisPtr(), Common::NORMAL_INFO, "ssb burn failed!");
            return 0;
        }
    }
    return handle->EraseAllFlash() ? 1 : 0;
}

int EraseFlash(DeviceHandle handle, uint32_t address, uint32_t size)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    return handle->EraseFlash(address, size) != 0 ? 1 : 0;
}

int DownloadToFlash(DeviceHandle handle, const char* path, uint32_t /*unused1*/, uint32_t /*unused2*/, uint32_t a,
                    uint32_t b, uint32_t /*unused3*/, int fileType)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    return handle->DownloadFile(path, a, b, fileType);
}

int DownloadToDdr(DeviceHandle handle, const char* path, unsigned char* buffer, uint32_t a, uint32_t b)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    return handle->DownloadToDdr(path, buffer, a, b);
}

int UploadFile(DeviceHandle handle, uint32_t address, uint32_t length, const char* path)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    if (IsEmpty(path)) {
        Common::Print("upload file path is null.\n");
        return 0;
    }
    return handle->UploadFile(address, static_cast<int>(length), path);
}

int SendCmd(DeviceHandle handle, unsigned char* command, uint32_t length, unsigned char* reply, int replySize,
            int timeout)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    if (command == nullptr) {
        Common::Print("send cmd data is null.\n");
        return 0;
    }
    if (length == 0) {
        Common::Print("send cmd data length equals 0.\n");
        return 0;
    }
    return handle->SendCmd(command, length, reply, replySize, timeout);
}

int SendBytes(DeviceHandle handle, const unsigned char* data, uint32_t length)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    if (data == nullptr) {
        Common::Print("send bytes is null.\n");
        return 0;
    }
    if (length == 0) {
        Common::Print("send bytes length equals 0.\n");
        return 0;
    }
    return static_cast<int>(handle->Send(data, length));
}

int ReceiveBytes(DeviceHandle handle, unsigned char* buffer, uint32_t length)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    if (buffer == nullptr) {
        Common::Print("recevie data is null.\n");
        return 0;
    }
    if (length == 0) {
        Common::Print("recevie length equals 0.\n");
        return 0;
    }
    return static_cast<int>(handle->Receive(buffer, length));
}

int SetHandshakeTimeout(DeviceHandle handle, int timeout)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    handle->SetHandshakeTimeout(static_cast<uint32_t>(timeout));
    return 1;
}

int SetPerPacketSize(DeviceHandle handle, int size)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    handle->SetPerPacketSize(static_cast<uint32_t>(size));
    return 1;
}

int SetIsReset(DeviceHandle handle, uint32_t value)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    handle->SetIsReset(value != 0);
    return 1;
}

int SetIsReady(DeviceHandle handle, uint32_t value)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    handle->SetIsReady(value != 0);
    return 1;
}

int SetCtrlPeriod(DeviceHandle handle, int period)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    handle->SetCtrlPeriod(period);
    return 1;
}

int SetEraseMode(DeviceHandle handle, int mode)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    handle->SetEraseMode(mode);
    return 1;
}

int SetIsOnlyEraseAll(DeviceHandle handle, uint32_t value)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    handle->SetIsOnlyEraseAll(value != 0);
    return 1;
}

int SetSwitchAfterLoader(DeviceHandle handle, uint32_t value)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    handle->SetSwitchAfterLoader(value != 0);
    return 1;
}

int SetBeforeReset(DeviceHandle handle, uint32_t value)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    handle->SetBeforeReset(value != 0);
    return 1;
}

int SetAtResetCommand(DeviceHandle handle, const char* command)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    handle->SetAtResetCommand(command != nullptr ? std::string(command) : std::string());
    return 1;
}
