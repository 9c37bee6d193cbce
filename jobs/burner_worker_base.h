#ifndef TARNWICK_JOBS_BURNER_WORKER_BASE_H
#define TARNWICK_JOBS_BURNER_WORKER_BASE_H

// Base of every burn job: owns the run's settings, opens the board through
// the device library and carries the generic flow (a loader plus the rows of a
// partition table, or one image at a fixed address). It hands its events to
// the chip object, keeps its own overall progress, and ends with the run's
// outcome: success, or the failure made where it happened, with the result
// code that becomes the exit code.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/outcome.h"
#include "common/printf_format.h"
#include "device/device_library.h"
#include "jobs/job_events.h"
#include "settings/burn_context.h"

class BurnerWorkerBase {
public:
    // Board commands of the generic flow.
    static constexpr int RESET_TIMEOUT = 5000;
    static constexpr uint8_t GO_CMD = 0xBA;
    static constexpr uint32_t GO_CMD_LEN = 5;
    static constexpr unsigned long ADDRESS_OFFSET = 4;
    static constexpr uint8_t ERASE_CMD = 0xE4;
    static constexpr uint32_t ERASE_CMD_LEN = 9;
    // Verification: one settling step per started UPLOAD_SLEEP bytes.
    static constexpr uint32_t UPLOAD_SLEEP = 20480;
    static constexpr uint32_t TIMER_OUT_WRITE_FILE = 1000;
    static constexpr const char* UPLOAD_FILE_NAME = "upload.bin";

    // Takes ownership of the context (which must not be null).
    explicit BurnerWorkerBase(std::unique_ptr<BurnInfo::BurnContext> context);
    virtual ~BurnerWorkerBase();
    BurnerWorkerBase(const BurnerWorkerBase&) = delete;
    BurnerWorkerBase& operator=(const BurnerWorkerBase&) = delete;

    // Results are BurnInfo codes, 0 for success: GetOutcome().code.
    virtual int Burn();
    virtual int Read();
    virtual int Erase();
    virtual bool DownloadBootData();
    virtual bool InitTransport();
    virtual int BurnTargetBinByXml();

    // The device library's print callback (for what the line itself prints)
    // and cancel query; the rest of the run's events are handed down.
    void RegisterCall() const;
    static void SetPrint(long long handle, const char* tag, const char* message, const char* detail, int type);
    // The overall figure across the images of the generic flow, from the
    // percentage of the image in transfer.
    void SetProgress(long long handle, int percent);

    bool InitSerialPortTransport();
    int BurnUART();
    int BurnTargetByUart(const std::string& path, unsigned long address);
    int BurnVerification(const char* path, unsigned long address);
    int RebootMcu();
    bool Go(unsigned long address);
    bool SendEraseCmd(unsigned long address, unsigned long length);

    // Settling time before the read-back file is touched: one step for every
    // started UPLOAD_SLEEP bytes of the image.
    static uint64_t VerificationSettleTime(uint32_t length, uint32_t stepMs = TIMER_OUT_WRITE_FILE);

    // Where the run's events go besides the console; it must outlive the run.
    void AddEventReceiver(Common::RunEvents* receiver) { m_events.AddReceiver(receiver); }
    // How the run ended.
    const Common::Outcome& GetOutcome() const { return m_outcome; }
    DeviceHandle GetDeviceHandle() const { return m_deviceHandle; }
    const BurnInfo::BurnContext& GetContext() const { return *m_burnContext; }

protected:
    // The generic flow's overall progress: the selected rows' sizes, and how
    // far the transfers have come through them.
    struct OverallProgress {
        std::vector<uint64_t> partSizeList;  // fileSize of every selected row, in table order
        size_t partIndex = 0;                // the row now in transfer
        uint64_t sentSize = 0;               // of the rows already completed
        uint64_t totalLength = 0;
        bool isPrintProgress = false;
    };

    std::string ChipName() const { return m_burnContext->GetChipName(); }
    const Common::ChipFamily& Family() const { return Common::FamilyOf(m_burnContext->GetChipType()); }
    // The chip object of the run, its line not yet open; false after the
    // device library's message.
    bool CreateBoard(uint32_t baudRate);
    // Asks for a board reset, opens the run's port at baudRate and explains a failure.
    bool OpenBoardPort(uint32_t baudRate);
    void Printf(const char* format, ...) TARNWICK_PRINTF_FORMAT(2, 3);
    // Prints the job's message and keeps the run's failure: the one the chip
    // made for the call that just failed when it kept one, else this message
    // as a failure of kind, concerning image. The first failure of a run is
    // the one kept.
    void Fail(Common::OutcomeKind kind, const std::string& image, const char* format, ...)
        TARNWICK_PRINTF_FORMAT(4, 5);
    // Keeps outcome as the run's failure unless one is kept already.
    void Keep(const Common::Outcome& outcome);
    // The run ends with its failure and code; returns code.
    int Failed(int code);

    std::vector<BurnInfo::PartitionItem> m_partitionInfo;
    std::unique_ptr<BurnInfo::BurnContext> m_burnContext;
    DeviceHandle m_deviceHandle = nullptr;
    // Settling step of the verification; tests shorten it.
    uint32_t m_settleStepMs = TIMER_OUT_WRITE_FILE;
    OverallProgress m_progress;
    Jobs::JobEvents m_events;
    Common::Outcome m_outcome;

private:
    bool SendBoardCommand(std::vector<uint8_t> command, unsigned char* reply, int replySize, int timeout);
};

#endif
