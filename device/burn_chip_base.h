// The chip object: one per opened board. It owns the byte transport, the
// transfer protocol of the operation in progress and the text-command framing,
// and speaks the boot-ROM frames. Chip families override the virtual steps.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/chip_family.h"
#include "transport/chip_link.h"
#include "transport/transport_type_base.h"

class TransportProtocolBase;
class FrameFormatBase;

class BurnChipBase : public ChipLink {
public:
    // One block of the serial file transfer.
    struct DataInfo {
        uint32_t target = 0;  // carried in the head frame, meaning left to the board
        uint32_t length = 0;
        const unsigned char* data = nullptr;
    };

    // Values of m_curOperation.
    static constexpr uint16_t OPEN_SERIAL_COM = 1;
    static constexpr uint16_t SEND_BOARD_FRAME = 6;
    static constexpr uint16_t NO_OPERATION = 0xFFFF;

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
    // Reads and checks the package as DownloadAllinoneBin does, without the board.
    virtual bool CheckAllinoneBin(const char* path);
    virtual int EraseFlash(unsigned long addr, unsigned long size);
    virtual int UploadFile(unsigned long addr, int length, const char* path);
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

    // --- the line, as transfer protocols see it ------------------------------
    unsigned long Send(const unsigned char* data, unsigned long length) override;
    unsigned long Receive(unsigned char* buffer, unsigned long length) override;
    bool WaitForData(uint32_t timeoutMs) override;
    bool CheckIsCancel() override;
    long long GetThisPtr() const override;
    int SendCmd(unsigned char* cmd, unsigned long length, unsigned char* reply, int replySize,
                int timeout) override;
    bool IsLineBroken() const override;
    // IsLineBroken; the transport tells the user (once).
    bool LineLost();
    void SetIsCancel();
    void SetProgress(int percent);

    // --- boot frame protocol -------------------------------------------------
    int SendFrameBySerial(unsigned char* frame, unsigned long length, unsigned long replyWindow,
                          unsigned long totalWindow);
    int SendHeadFrameBySerial(unsigned long length, unsigned long target);
    int SendDataFrameBySerial(unsigned char seq, const unsigned char* data, unsigned long n);
    int SendTailFrameBySerial(unsigned long count);
    int SendFileBySerial(const DataInfo& info);
    int SendDataInfo(const DataInfo& info, bool unused);
    bool CheckReplyFrameValidity(const unsigned char* recv, int recvLength, const unsigned char* sent);
    int SendShakeHandFrame(const unsigned char* frame, unsigned long length, unsigned long replyWindow,
                           unsigned long totalWindow);
    bool CheckRecvFrame(const unsigned char* recv, int recvLength) const;
    int SendFrameNoReply(unsigned char* frame, unsigned long length, unsigned long timeout);
    int SendCmdAndNoReply(const char* cmd, unsigned long length, int timeout);
    int SendStartFrame();
    void InitHead(unsigned char* buf, int unused, int value, int type);
    int CalculationTimeout(unsigned long size) const;

    // --- transfers through the chip family's protocol ------------------------
    // The family's file-transfer protocol bound to this chip; null for a
    // family without one, or when it cannot be created.
    virtual std::unique_ptr<TransportProtocolBase> CreateDownloadProtocol();
    int NewDownloadProtocol();
    int DownloadFile(const char* path, unsigned long a, unsigned long b, int fileType);
    int DownloadData(const char* path, unsigned char* buf, unsigned long a, unsigned long b);
    int DownloadToDdr(const char* path, unsigned char* buf, unsigned long a, unsigned long b);

    // --- board command channel and serial settings ---------------------------
    // The chip is handed its line (closed) by whoever made it; OpenSerialPort
    // opens that line.
    void AttachLine(std::unique_ptr<TransportTypeBase> line);
    int OpenSerialPort(const char* name, unsigned int baud, int stopBit, int parity);
    int OpenComm(const char* name, unsigned int baud, int stopBit, int parity);
    // Applies a new rate (and stop bits, parity) to the open line; false, with
    // a message naming the rate and the port, when the line refuses it.
    bool ReSettingSerialParameters(unsigned int baud, int stopBit, int parity);
    // Asked before a rate is offered to the board: false, with the same
    // message, when the line could not follow the board to it.
    bool CheckLineRate(unsigned int baud);
    static void SetFrameFrequency(unsigned int baud);
    static int InitSerialPortList(char* buffer, int size);
    static int GetUart(int count, char* buffer, int size, const char* name);
    bool InitBeforeBurn();
    int NewFrameFormat();
    void ClearRecvBuff();
    void PrintCurRecv();
    int CheckAsciiTextPos(const unsigned char* buf, int length) const;
    void GetBoardFrameCmd(unsigned char* frame, int length) const;
    int SendBoardFrame(unsigned long& a, unsigned long& b);
    int RecvFrame(unsigned char flag, unsigned long timeout, unsigned char* buf, unsigned long length,
                  unsigned long& count);
    void FiltRecv(unsigned long& index, unsigned long& count, unsigned char* buf, const unsigned char& flag,
                  const unsigned long& length);
    bool CheckRecvFrame(unsigned char flag, unsigned char* buf, unsigned long length, int hasTail) const;
    int StartTftpServer(const char*, int, int) { return 1; }
    int CloseTftpServer() { return 1; }

    // --- plain settings ------------------------------------------------------
    // The line settings the run asked for, as one value: port, the rate the
    // board is to run at, stop bits and parity. The line itself starts at the
    // boot ROM's rate and follows the board through ReSettingSerialParameters.
    void SetLineSettings(const LineSettings& settings) { m_lineSettings = settings; }
    const LineSettings& GetLineSettings() const { return m_lineSettings; }
    void SetPortBaudRate(uint32_t baud) { m_lineSettings.baudRate = baud; }
    uint32_t GetBaudRate() const { return m_lineSettings.baudRate; }
    void SetTargetBaudRate(uint32_t baud) { m_targetBaudRate = baud; }
    uint32_t GetTargetBaudRate() const { return m_targetBaudRate; }
    int GetStopBit() const { return static_cast<int>(m_lineSettings.stopBits); }
    int GetParity() const { return static_cast<int>(m_lineSettings.parity); }
    void SetBootDdrAddr(uint32_t addr) { m_bootDdrAddr = addr; }
    uint64_t GetBootDdrAddr() const { return m_bootDdrAddr; }
    void SetParameters(int param, bool isBootFileEmpty)
    {
        m_bootParam = param;
        m_isBootFileEmpty = isBootFileEmpty;
    }
    void SetErrorInfo(const std::string& info) { m_errorInfo = info; }
    std::string GetErrorInfo() const { return m_errorInfo; }
    void SetHandshakeTimeout(uint32_t timeout) { m_handshakeTimeout = timeout; }
    uint32_t GetHandshakeTimeout() const { return m_handshakeTimeout; }
    void SetPerPacketSize(uint32_t size) { m_perPacketSize = size; }
    uint32_t GetPerPacketSize() const { return m_perPacketSize; }
    void SetIsReset(bool isReset) { m_isReset = isReset; }
    bool GetIsReset() const { return m_isReset; }
    void SetIsReady(bool isReady) { m_isReady = isReady; }
    bool GetIsReady() const { return m_isReady; }
    std::string GetComName() const { return m_lineSettings.portName; }
    const std::string& GetRecvText() const { return m_recvText; }
    uint16_t GetCurOperation() const { return m_curOperation; }
    bool IsSerialOpened() const { return m_isSerialOpened; }
    // errno of the transport's last failure (EACCES: no permission on the port); 0 without a transport.
    int GetTransportErrorCode() const { return m_transport ? m_transport->GetErrorCode() : 0; }
    uint32_t GetHeadSequence() const { return m_headSequence; }
    // The open line, for what acts on the line itself (modem lines); null before opening.
    TransportTypeBase* GetTransport() { return m_transport.get(); }

    // The family of the selected chip type.
    static const Common::ChipFamily& Family() { return Common::FamilyOf(static_cast<int>(m_chipType)); }

    // Library-wide settings, set through the device library (one thread only).
    static uint32_t m_chipType;
    static uint32_t m_department;
    static bool m_isOnlyBurnLoader;
    static bool m_isBurnDeviceInfo;
    static bool m_isEraseBeforeBurn;
    static uint32_t m_packetSize;
    static uint32_t m_typeframeTimeout;
    static uint32_t m_typeframeFrequency;

protected:
    bool ReportRateRefusal(unsigned int baud, const LineStatus& status);
    // Waits for received bytes until window ms after start; false once the
    // window is over or the line is gone.
    bool WaitInWindow(uint32_t start, unsigned long window);

    uint32_t m_fileLength = 0;
    LineSettings m_lineSettings;
    uint32_t m_targetBaudRate = 0;
    uint64_t m_bootDdrAddr = 0;
    std::string m_recvText;
    uint16_t m_curOperation = NO_OPERATION;
    std::unique_ptr<TransportTypeBase> m_transport;
    std::unique_ptr<TransportProtocolBase> m_downloadProtocol;
    std::unique_ptr<FrameFormatBase> m_frameFormat;
    bool m_isSerialOpened = false;
    bool m_isUpload = false;
    bool m_isBootFileEmpty = false;
    int32_t m_bootParam = 0;
    std::string m_errorInfo;
    uint32_t m_headSequence = 1;
    uint32_t m_handshakeTimeout = 30000;
    uint32_t m_perPacketSize = 4096;
    uint32_t m_ctrlPeriod = 10;
    uint32_t m_eraseMode = 0;
    bool m_isOnlyEraseAll = false;
    bool m_switchAfterLoader = false;
    bool m_beforeReset = false;
    std::string m_atResetCommand;
    bool m_isReset = true;
    bool m_isReady = true;
};
