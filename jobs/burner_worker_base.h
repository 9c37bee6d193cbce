#ifndef TARNWICK_JOBS_BURNER_WORKER_BASE_H
#define TARNWICK_JOBS_BURNER_WORKER_BASE_H

// Base of every burn job: owns the run's settings, opens the board through
// the device library and carries the generic flow (a loader plus the rows of a
// partition table, or one image at a fixed address). The progress figures are
// process-wide because the device library's progress callback is a plain
// function; one job exists per process.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/device_library.h"
#include "device/image_events.h"
#include "jobs/job_events.h"
#include "settings/burn_context.h"

class BurnerWorkerBase {
public:
    // Board commands of the generic flow.
    static constexpr uint8_t RESET_CMD = 0x87;
    static constexpr int RESET_TIMEOUT = 5000;
    static constexpr uint8_t GO_CMD = 0xBA;
    static constexpr uint32_t GO_CMD_LEN = 5;
    static constexpr unsigned long ADDRESS_OFFSET = 4;
    static constexpr uint8_t ERASE_CMD = 0xE4;
    static constexpr uint32_t ERASE_CMD_LEN = 9;
    static constexpr int MAX_RECV_MSG_LEN = 1024;
    static constexpr int EXE_COMMAND_TIMEOUT = 3000;
    // Verification: one settling step per started UPLOAD_SLEEP bytes.
    static constexpr uint32_t UPLOAD_SLEEP = 20480;
    static constexpr uint32_t TIMER_OUT_WRITE_FILE = 1000;
    static constexpr const char* UPLOAD_FILE_NAME = "upload.bin";

    // Takes ownership of the context (which must not be null).
    explicit BurnerWorkerBase(std::unique_ptr<BurnInfo::BurnContext> context);
    virtual ~BurnerWorkerBase();
    BurnerWorkerBase(const BurnerWorkerBase&) = delete;
    BurnerWorkerBase& operator=(const BurnerWorkerBase&) = delete;

    // Results are BurnInfo codes, 0 for success.
    virtual int Burn();
    virtual int Read();
    virtual int Erase();
    virtual bool DownloadBootData();
    virtual bool InitTransport();
    virtual int BurnTargetBinByXml();

    void RegisterCall() const;
    static void SetPrint(long long handle, const char* tag, const char* message, const char* detail, int type);
    static void SetProgress(long long handle, int percent);
    // Where the job's events go (process-wide like the progress figures);
    // an empty sink drops them.
    static void SetEventSink(Jobs::JobEventSink sink);
    static void Emit(const Jobs::JobEvent& event);
    static void OnImageEvent(const ImageEvent& event);

    bool InitSerialPortTransport();
    int BurnUART();
    int BurnTargetByUart(const std::string& path, unsigned long address);
    int BurnVerification(const char* path, unsigned long address);
    bool IsAllinoneFile(const char* path) const;
    int RebootMcu();
    bool Go(unsigned long address);
    bool ResetBySerial();
    bool SendEraseCmd(unsigned long address, unsigned long length);
    int BurnLoadTarget();
    bool SendCommand(const std::string& text);
    bool ResetBoard();

    // Settling time before the read-back file is touched: one step for every
    // started UPLOAD_SLEEP bytes of the image.
    static uint64_t VerificationSettleTime(uint32_t length, uint32_t stepMs = TIMER_OUT_WRITE_FILE);

    DeviceHandle GetDeviceHandle() const { return m_deviceHandle; }
    const BurnInfo::BurnContext& GetContext() const { return *m_burnContext; }

    // Overall progress across the images of the run.
    static uint32_t m_partIndex;
    static uint64_t m_sentSize;
    static uint64_t m_totalLength;
    static bool m_isPrintProgress;
    static std::vector<uint64_t> m_partSizeList;

protected:
    std::string ChipName() const { return m_burnContext->GetChipName(); }
    // Asks for a board reset, opens the run's port at baudRate and explains a failure.
    bool OpenBoardPort(uint32_t baudRate);

    std::vector<BurnInfo::PartitionItem> m_partitionInfo;
    std::unique_ptr<BurnInfo::BurnContext> m_burnContext;
    DeviceHandle m_deviceHandle = nullptr;
    // Settling step of the verification; tests shorten it.
    uint32_t m_settleStepMs = TIMER_OUT_WRITE_FILE;

private:
    bool SendBoardCommand(std::vector<uint8_t> command, unsigned char* reply, int replySize, int timeout);
};

#endif
