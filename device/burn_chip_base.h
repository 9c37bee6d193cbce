// The chip object: one per opened board. It carries the device library's
// operations over the parts it owns: the line to the board, the boot-ROM
// frame commands, the text commands, the transfer protocol of the operation
// in progress, and what it reports to the run (events and the failure of
// the operation). Chip families override the virtual steps.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/chip_family.h"
#include "device/boot_frame_commands.h"
#include "device/chip_line.h"
#include "device/chip_report.h"
#include "platform/hot_path.h"
#include "transport/chip_link.h"

class TransportProtocolBase;
class FrameFormatBase;

class BurnChipBase : public ChipLink {
public:
    // What the device library and the jobs set before an operation; each
    // value is read by the steps of the families that use it.
    struct Settings {
        uint32_t handshakeTimeout = 30000;
        uint32_t perPacketSize = 4096;
        uint32_t ctrlPeriod = 10;
        uint32_t eraseMode = 0;
        bool isOnlyEraseAll = false;
        bool switchAfterLoader = false;
        bool beforeReset = false;
        std::string atResetCommand;
        bool isReset = true;
        bool isReady = true;
        uint64_t bootDdrAddr = 0;
        int32_t bootParam = 0;
        bool isBootFileEmpty = false;
    };

    // An image the last package burn sent to the board (confirmed or not),
    // with its bytes in the package the chip object holds.
    struct BurnedImage {
        std::string name;
        uint32_t type = 0;
        uint32_t address = 0;
        const uint8_t* data = nullptr;
        uint32_t length = 0;
    };

    BurnChipBase();
    ~BurnChipBase() override;
    BurnChipBase(const BurnChipBase&) = delete;
    BurnChipBase& operator=(const BurnChipBase&) = delete;

    // --- steps a chip family overrides (true: success) -----------------------
    virtual bool ShakeHand();
    virtual bool EraseAllFlash();
    virtual bool FilePrepare(const std::string& path);
    virtual bool InitBoard();
    virtual bool SecurityVerification();
    virtual bool InitDdr();
    virtual bool DownloadBootData();
    virtual bool WaitBootRun();
    virtual bool DownloadAllinoneBin(const char* path, unsigned long param);
    // Reads and checks the package as DownloadAllinoneBin does, without the
    // board; the package checked is kept for the DownloadAllinoneBin of the
    // same path, so a run reads and checks it once.
    virtual bool CheckAllinoneBin(const char* path);
    virtual int EraseFlash(unsigned long addr, unsigned long size);
    virtual int UploadFile(unsigned long addr, int length, const char* path);
    // As UploadFile, into data instead of a file; 0 for a family that does not offer it.
    virtual int UploadData(unsigned long addr, uint32_t length, std::vector<uint8_t>& data);
    // In the order they were sent; valid while the chip object lives and
    // burns no other package. None for a family that burns no packages itself.
    virtual std::vector<BurnedImage> BurnedImages() const { return {}; }
    virtual bool SendFrame(unsigned char* frame, unsigned long length, unsigned long replyWindow,
                           unsigned long totalWindow, bool reportFailure);
    virtual bool Reset();
    virtual void SetCtrlPeriod(int period);
    virtual void SetEraseMode(int mode);
    virtual void SetIsOnlyEraseAll(bool onlyEraseAll);
    virtual void SetSwitchAfterLoader(bool switchAfterLoader);
    virtual void SetBeforeReset(bool beforeReset);
    virtual void SetAtResetCommand(const std::string& command);
    virtual void SetOnlyBurnNames(const std::vector<std::string>& names) = 0;
    virtual std::vector<std::string> GetOnlyBurnNames() const = 0;

    // --- the line, as the protocols see it -----------------------------------
    HOT_PATH unsigned long Send(const unsigned char* data, unsigned long length) override
    {
        return m_line.Send(data, length);
    }
    HOT_PATH unsigned long Receive(unsigned char* buffer, unsigned long length) override
    {
        return m_line.Receive(buffer, length);
    }
    HOT_PATH bool WaitForData(uint32_t timeoutMs) override { return m_line.WaitForData(timeoutMs); }
    HOT_PATH bool CheckIsCancel() override { return m_line.CheckIsCancel(); }
    // True once the line is gone, kept as the operation's failure; the
    // transport tells the user (once).
    HOT_PATH bool LineLost() override { return m_line.LineLost(); }
    HOT_PATH Common::RunEvents& Events() override { return m_report.Events(); }
    void Fail(Common::OutcomeKind kind, std::string_view message) override { m_report.Fail(kind, message); }
    void SetIsCancel() { m_line.SetIsCancel(); }
    void SetProgress(int percent) { Events().Progress(percent); }
    long long GetThisPtr() const { return reinterpret_cast<long long>(this); }

    // --- opening, the line's settings and text commands ------------------------
    // The chip is handed its line (closed) by whoever made it.
    void AttachLine(std::unique_ptr<TransportTypeBase> line) { m_line.Attach(std::move(line)); }
    // Opens that line as name at these settings and makes the text-command framing.
    int OpenSerialPort(const char* name, unsigned int baud, int stopBit, int parity);
    // Applies a new rate (and stop bits, parity) to the open line; false, with
    // a message naming the rate and the port, when the line refuses it.
    bool ReSettingSerialParameters(unsigned int baud, int stopBit, int parity)
    {
        return m_line.Apply(baud, stopBit, parity);
    }
    // Asked before a rate is offered to the board: false, with the same
    // message, when the line could not follow the board to it.
    bool CheckLineRate(unsigned int baud) { return m_line.CheckRate(baud); }
    int SendFrameBySerial(unsigned char* frame, unsigned long length, unsigned long replyWindow,
                          unsigned long totalWindow)
    {
        return m_frames.SendFrameBySerial(frame, length, replyWindow, totalWindow);
    }
    int SendCmd(unsigned char* cmd, unsigned long length, unsigned char* reply, int replySize, int timeout);

    // --- transfers through the chip family's protocol ------------------------
    // The family's file-transfer protocol bound to this chip; null for a
    // family without one, or when it cannot be created.
    virtual std::unique_ptr<TransportProtocolBase> CreateDownloadProtocol();
    int NewDownloadProtocol();
    int DownloadFile(const char* path, unsigned long a, unsigned long b, int fileType);
    int DownloadToDdr(const char* path, unsigned char* buf, unsigned long a, unsigned long b);

    // --- what the run asked for ------------------------------------------------
    // Port, the rate the board is to run at, stop bits and parity. The line
    // itself starts at the boot rate and follows the board through
    // ReSettingSerialParameters.
    void SetLineSettings(const LineSettings& settings) { m_line.Requested() = settings; }
    const LineSettings& GetLineSettings() const { return m_line.Requested(); }
    // The rate the board is to run at: the one value of it the chip keeps.
    void SetTargetBaudRate(uint32_t baud) { m_line.Requested().baudRate = baud; }
    uint32_t GetTargetBaudRate() const { return m_line.Requested().baudRate; }
    Settings& GetSettings() { return m_settings; }
    const Settings& GetSettings() const { return m_settings; }

    // --- the parts ---------------------------------------------------------------
    ChipLine& Line() { return m_line; }
    BootFrameCommands& Frames() { return m_frames; }
    ChipReport& Report() { return m_report; }

    // The family of the selected chip type.
    static const Common::ChipFamily& Family() { return Common::FamilyOf(static_cast<int>(m_chipType)); }

    // Library-wide settings, set through the device library (one thread only).
    static uint32_t m_chipType;
    static uint32_t m_department;
    static bool m_isOnlyBurnLoader;
    static bool m_isBurnDeviceInfo;
    static bool m_isEraseBeforeBurn;
    static uint32_t m_packetSize;

protected:
    ChipReport m_report;
    ChipLine m_line;
    BootFrameCommands m_frames;
    std::unique_ptr<FrameFormatBase> m_frameFormat;
    std::unique_ptr<TransportProtocolBase> m_downloadProtocol;
    Settings m_settings;
};
