// The device library as the burn jobs see it: flat functions over a chip
// handle (the chip object that OpenSerialPort creates). Every function checks
// its handle and pointers, prints a fixed message for a bad one and returns a
// failure value; results are 1 for success and 0 for failure unless stated.
#pragma once

#include <cstdint>
#include <vector>

#include "common/console.h"
#include "common/outcome.h"
#include "common/run_events.h"
#include "common/reset_sequence.h"
#include "device/burn_chip_base.h"
#include "transport/port_name.h"

using DeviceHandle = BurnChipBase*;

// Any pointer may be null.
void RegisterCallback(PrintInfoCallback print, IsCancelledCallback isCancelled, SetProgressCallback setProgress);

void SetChipType(uint32_t chipType);
void SetIsEraseBeforeBurn(uint32_t value);
void SetIsOnlyBurnLoader(uint32_t value);
void SetIsBurnDeviceInfo(uint32_t value);
void SetPacketSize(uint32_t size);

// -1 for a null buffer; otherwise 0 with the machine's serial port names in
// buffer, separated by ";", without duplicates (-1 when they do not fit).
int GetSerialPortList(char* buffer, int size);

// The chip object for the selected chip type with its port open at the
// family's boot rate (the requested rate reaches the board in the handshake);
// null on failure.
DeviceHandle OpenSerialPort(const char* comName, uint32_t baudRate, int stopBit, int parity);
// The same with the port as the settings read it, the run's line settings
// (whose port name is taken from port) and the run's events (null: the
// registered callbacks).
DeviceHandle OpenLine(const PortName& port, const LineSettings& settings, Common::RunEvents* events = nullptr);
// OpenLine in two steps, so that a run can check its package on the chip
// object before it asks for the board: the chip object without a line (null
// after "new transport failed"), and making and opening its line (0 on
// failure; the handle stays the caller's to destroy).
DeviceHandle CreateDevice(const PortName& port, const LineSettings& settings, Common::RunEvents* events);
int OpenDevice(DeviceHandle handle, const PortName& port);
// errno of the last open that failed to open its port (EACCES when the user
// may not use the device); 0 after a success or another failure.
int GetLastOpenError();
// The failure the chip object kept for the last operation that failed: what
// went wrong, as a value; success when it kept none.
Common::Outcome GetLastFailure(DeviceHandle handle);
// Closes the port and frees the chip object; 1 also for a null handle.
int DestroyDevice(DeviceHandle handle);

int Reset(DeviceHandle handle);
// Drives the reset sequence on the modem lines of the open port; 0 when the
// line refused (after one warning) or the handle is bad.
int ResetByModemLines(DeviceHandle handle, const Common::ResetSequence& sequence);
// The running operation of the handle fails at its next cancel check.
int Cancel(DeviceHandle handle);
int BootDownload(DeviceHandle handle, const char* bootFile, uint32_t bootDdrAddr, int parameter, const char* unused,
                 uint64_t* outBootDdrAddr);
int DownloadAllinoneBin(DeviceHandle handle, const char* path, uint32_t parameter);
// Reads and checks the package as DownloadAllinoneBin would, with the same
// messages, before the port is opened; DownloadAllinoneBin of the same path
// then uses the package checked.
int CheckAllinoneBin(DeviceHandle handle, const char* path);
// Prepares the board with the package file (when given), then erases all of the flash.
int EraseAllFlash(DeviceHandle handle, const char* file);
int EraseFlash(DeviceHandle handle, uint32_t address, uint32_t size);
int DownloadToFlash(DeviceHandle handle, const char* path, uint32_t unused1, uint32_t unused2, uint32_t a, uint32_t b,
                    uint32_t unused3, int fileType);
int DownloadToDdr(DeviceHandle handle, const char* path, unsigned char* buffer, uint32_t a, uint32_t b);
int UploadFile(DeviceHandle handle, uint32_t address, uint32_t length, const char* path);
// As UploadFile, into data (replaced) instead of a file.
int UploadData(DeviceHandle handle, uint32_t address, uint32_t length, std::vector<uint8_t>& data);
// The images the last package burn on the handle sent to the board, in order,
// with their bytes; empty for a bad handle or a family whose chip object
// burns no packages.
std::vector<BurnChipBase::BurnedImage> GetBurnedImages(DeviceHandle handle);
int SendCmd(DeviceHandle handle, unsigned char* command, uint32_t length, unsigned char* reply, int replySize,
            int timeout);
// Bytes sent / received (0 after a message for a bad argument).
int SendBytes(DeviceHandle handle, const unsigned char* data, uint32_t length);
int ReceiveBytes(DeviceHandle handle, unsigned char* buffer, uint32_t length);

int SetHandshakeTimeout(DeviceHandle handle, int timeout);
int SetPerPacketSize(DeviceHandle handle, int size);
int SetIsReset(DeviceHandle handle, uint32_t value);
int SetIsReady(DeviceHandle handle, uint32_t value);
int SetCtrlPeriod(DeviceHandle handle, int period);
int SetEraseMode(DeviceHandle handle, int mode);
int SetIsOnlyEraseAll(DeviceHandle handle, uint32_t value);
int SetSwitchAfterLoader(DeviceHandle handle, uint32_t value);
int SetBeforeReset(DeviceHandle handle, uint32_t value);
int SetAtResetCommand(DeviceHandle handle, const char* command);
