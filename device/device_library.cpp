#include "device/device_library.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "common/chip_family.h"
#include "device/burn_qn4180_chip.h"
#include "device/burn_vb27_chip.h"
#include "common/secure_functions.h"
#include "device/typesix_chip_factory.h"
#include "platform/serial_port_list.h"
#include "transport/line_factory.h"
#include "transport/modem_reset.h"

namespace {

constexpr int MAX_UART_TEXT = 512;

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

// The operation of the handle starts: what it may fail with is its own.
DeviceHandle Begin(DeviceHandle handle)
{
    handle->Report().BeginOperation();
    return handle;
}

// True when the ";"-separated list already names exactly this port.
bool ListHasName(const char* list, const std::string& entry)
{
    for (const char* at = std::strstr(list, entry.c_str()); at != nullptr; at = std::strstr(at + 1, entry.c_str())) {
        if (at == list || at[-1] == ';') {
            return true;
        }
    }
    return false;
}

// Appends "name;" at count unless the list has it already; a name that does
// not fit still counts, so the caller sees that the list was cut.
int AppendPortName(int count, char* buffer, int size, const char* name)
{
    if (count < 0 || count >= size) {
        return count;
    }
    char entry[MAX_UART_TEXT + 1] = {};
    const int length = sprintf_s(entry, sizeof(entry), "%s;", name);
    if (length <= 0 || ListHasName(buffer, entry)) {
        return count;
    }
    if (length < size - count) {
        memcpy_s(buffer + count, static_cast<size_t>(size - count), entry, static_cast<size_t>(length));
    }
    return count + length;
}

const Common::ChipFamily& SelectedFamily()
{
    return Common::FamilyOf(static_cast<int>(BurnChipBase::m_chipType));
}

std::unique_ptr<BurnChipBase> NewChip(Common::FamilyChip chip)
{
    switch (chip) {
        case Common::FamilyChip::VB27:
            return std::unique_ptr<BurnChipBase>(new (std::nothrow) BurnVb27ChipSp::BurnVb27Chip());
        case Common::FamilyChip::QN4180:
            return std::unique_ptr<BurnChipBase>(new (std::nothrow) BurnQn4180ChipSp::BurnQn4180Chip());
        case Common::FamilyChip::TYPESIX:
            return NewTypeSixChip();
        case Common::FamilyChip::NONE:
            break;
    }
    return nullptr;
}

// The chip object of the type SetChipType chose; only the connection-chip
// department has any.
std::unique_ptr<BurnChipBase> NewChipForSelectedType()
{
    std::unique_ptr<BurnChipBase> chip;
    if (BurnChipBase::m_department == Common::CONNECTION_DEPARTMENT) {
        chip = NewChip(SelectedFamily().chip);
    }
    if (!chip) {
        Common::Print("new transport failed\n");
    }
    return chip;
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
    BurnChipBase::m_department = static_cast<uint32_t>(Common::DepartmentOf(static_cast<int>(chipType)));
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
    if (buffer == nullptr || size <= 0) {
        return -1;
    }
    memset_s(buffer, static_cast<size_t>(size), 0, static_cast<size_t>(size));
    int count = 0;
    for (const std::string& path : SerialPortListSp::ListSerialPortPaths()) {
        count = AppendPortName(count, buffer, size, path.c_str());
    }
    if (count == 0) {
        return 0;
    }
    if (count > static_cast<int>(std::strlen(buffer))) {
        Common::Print("the length of num is greater than that of comName.\n");
        return -1;
    }
    buffer[count - 1] = '\0';  // no trailing separator
    return 0;
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

DeviceHandle CreateDevice(const PortName& port, const LineSettings& runSettings, Common::RunEvents* events)
{
    LineSettings settings = runSettings;
    settings.portName = port.text;
    g_lastOpenError = 0;
    std::unique_ptr<BurnChipBase> chip = NewChipForSelectedType();
    if (!chip) {
        return nullptr;
    }
    chip->Report().Use(events);
    chip->SetLineSettings(settings);
    return chip.release();
}

int OpenDevice(DeviceHandle handle, const PortName& port)
{
    g_lastOpenError = 0;
    if (!HandleOk(handle)) {
        return 0;
    }
    std::unique_ptr<TransportTypeBase> line = NewLine(port);
    if (!line) {
        return 0;
    }
    handle->AttachLine(std::move(line));
    // The port always starts at the boot rate; the requested one reaches the board in the handshake.
    if (Begin(handle)->OpenSerialPort(port.text.c_str(), SelectedFamily().bootRate, 0, 0) == 0) {
        g_lastOpenError = handle->Line().ErrorCode();
        return 0;
    }
    return 1;
}

DeviceHandle OpenLine(const PortName& port, const LineSettings& settings, Common::RunEvents* events)
{
    std::unique_ptr<BurnChipBase> chip(CreateDevice(port, settings, events));
    if (!chip || OpenDevice(chip.get(), port) == 0) {
        return nullptr;
    }
    return chip.release();
}

int CheckAllinoneBin(DeviceHandle handle, const char* path)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    if (IsEmpty(path)) {
        Begin(handle)->Report().Fail(Common::OutcomeKind::SETTINGS, "burn file path is null.\n");
        return 0;
    }
    return Begin(handle)->CheckAllinoneBin(path) ? 1 : 0;
}

int GetLastOpenError()
{
    return g_lastOpenError;
}

Common::Outcome GetLastFailure(DeviceHandle handle)
{
    return handle != nullptr ? handle->Report().Failure() : Common::Outcome();
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
    return Begin(handle)->Reset() ? 1 : 0;
}

int ResetByModemLines(DeviceHandle handle, const Common::ResetSequence& sequence)
{
    if (!HandleOk(handle) || handle->Line().Transport() == nullptr) {
        return 0;
    }
    return ModemReset::ApplyResetSequence(*handle->Line().Transport(), sequence) ? 1 : 0;
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
    BurnChipBase::Settings& settings = Begin(handle)->GetSettings();
    settings.bootParam = parameter;
    settings.isBootFileEmpty = bootFileAbsent;
    settings.bootDdrAddr = bootDdrAddr;
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
        handle->Report().Fail(Common::OutcomeKind::HANDSHAKE, "Failed to wait the boot to run.\n");
        return 0;
    }
    if (outBootDdrAddr != nullptr) {
        *outBootDdrAddr = settings.bootDdrAddr;
    }
    return 1;
}

int DownloadAllinoneBin(DeviceHandle handle, const char* path, uint32_t parameter)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    if (IsEmpty(path)) {
        Begin(handle)->Report().Fail(Common::OutcomeKind::SETTINGS, "burn file path is null.\n");
        return 0;
    }
    return Begin(handle)->DownloadAllinoneBin(path, parameter) ? 1 : 0;
}

int EraseAllFlash(DeviceHandle handle, const char* file)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    Begin(handle);
    if (file != nullptr) {
        // A family whose erase follows the package's loader takes it through
        // its own download (the caller sets "loader only"); others boot a loader file.
        if (SelectedFamily().erase == Common::EraseMeaning::WHOLE_FLASH_AFTER_PACKAGE_LOADER) {
            if (!handle->DownloadAllinoneBin(file, 0)) {
                return 0;
            }
        } else if (BootDownload(handle, file, 0, 0, nullptr, nullptr) == 0) {
            handle->Report().Fail(Common::OutcomeKind::TRANSFER, "ssb burn failed!");
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
    return Begin(handle)->EraseFlash(address, size) != 0 ? 1 : 0;
}

int DownloadToFlash(DeviceHandle handle, const char* path, uint32_t /*unused1*/, uint32_t /*unused2*/, uint32_t a,
                    uint32_t b, uint32_t /*unused3*/, int fileType)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    return Begin(handle)->DownloadFile(path, a, b, fileType);
}

int DownloadToDdr(DeviceHandle handle, const char* path, unsigned char* buffer, uint32_t a, uint32_t b)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    return Begin(handle)->DownloadToDdr(path, buffer, a, b);
}

int UploadFile(DeviceHandle handle, uint32_t address, uint32_t length, const char* path)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    if (IsEmpty(path)) {
        Begin(handle)->Report().Fail(Common::OutcomeKind::SETTINGS, "upload file path is null.\n");
        return 0;
    }
    return Begin(handle)->UploadFile(address, static_cast<int>(length), path);
}

int UploadData(DeviceHandle handle, uint32_t address, uint32_t length, std::vector<uint8_t>& data)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    return Begin(handle)->UploadData(address, length, data);
}

std::vector<BurnChipBase::BurnedImage> GetBurnedImages(DeviceHandle handle)
{
    if (!HandleOk(handle)) {
        return {};
    }
    return handle->BurnedImages();
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
    return Begin(handle)->SendCmd(command, length, reply, replySize, timeout);
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
    handle->GetSettings().handshakeTimeout = static_cast<uint32_t>(timeout);
    return 1;
}

int SetPerPacketSize(DeviceHandle handle, int size)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    handle->GetSettings().perPacketSize = static_cast<uint32_t>(size);
    return 1;
}

int SetIsReset(DeviceHandle handle, uint32_t value)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    handle->GetSettings().isReset = value != 0;
    return 1;
}

int SetIsReady(DeviceHandle handle, uint32_t value)
{
    if (!HandleOk(handle)) {
        return 0;
    }
    handle->GetSettings().isReady = value != 0;
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
