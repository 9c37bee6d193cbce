#include "device/burn_chip_base.h"

#include <new>

#include "device/default_serport_frame.h"
#include "transport/transport_protocol_base.h"

uint32_t BurnChipBase::m_chipType = 0;
uint32_t BurnChipBase::m_department = 0;
bool BurnChipBase::m_isOnlyBurnLoader = false;
bool BurnChipBase::m_isBurnDeviceInfo = false;
bool BurnChipBase::m_isEraseBeforeBurn = true;
uint32_t BurnChipBase::m_packetSize = 1024;

BurnChipBase::BurnChipBase() : m_line(m_report), m_frames(m_line, m_report)
{
    m_report.SetHandle(GetThisPtr());
}

BurnChipBase::~BurnChipBase()
{
    m_downloadProtocol.reset();
    m_frameFormat.reset();
}

bool BurnChipBase::ShakeHand() { return true; }
bool BurnChipBase::EraseAllFlash() { return true; }
bool BurnChipBase::FilePrepare(const std::string&) { return true; }
bool BurnChipBase::InitBoard() { return true; }
bool BurnChipBase::SecurityVerification() { return true; }
bool BurnChipBase::InitDdr() { return true; }
bool BurnChipBase::DownloadBootData() { return true; }
bool BurnChipBase::WaitBootRun() { return true; }
bool BurnChipBase::DownloadAllinoneBin(const char*, unsigned long) { return true; }
bool BurnChipBase::CheckAllinoneBin(const char*) { return true; }
bool BurnChipBase::Reset() { return true; }

bool BurnChipBase::SendFrame(unsigned char* frame, unsigned long length, unsigned long replyWindow,
                             unsigned long totalWindow, bool reportFailure)
{
    return m_frames.SendFrame(frame, length, replyWindow, totalWindow, reportFailure);
}

void BurnChipBase::SetCtrlPeriod(int period) { m_settings.ctrlPeriod = static_cast<uint32_t>(period); }
void BurnChipBase::SetEraseMode(int mode) { m_settings.eraseMode = static_cast<uint32_t>(mode); }
void BurnChipBase::SetIsOnlyEraseAll(bool onlyEraseAll) { m_settings.isOnlyEraseAll = onlyEraseAll; }
void BurnChipBase::SetSwitchAfterLoader(bool switchAfterLoader) { m_settings.switchAfterLoader = switchAfterLoader; }
void BurnChipBase::SetBeforeReset(bool beforeReset) { m_settings.beforeReset = beforeReset; }
void BurnChipBase::SetAtResetCommand(const std::string& command) { m_settings.atResetCommand = command; }

int BurnChipBase::OpenSerialPort(const char* name, unsigned int baud, int stopBit, int parity)
{
    m_frameFormat.reset();
    if (name == nullptr) {
        return 0;
    }
    m_line.Requested().portName = name;
    if (!m_line.Open(baud, stopBit, parity)) {
        return 0;
    }
    // Text commands need the framing object; nothing else would create it.
    std::unique_ptr<FrameFormatBase> frameFormat(new (std::nothrow) DefaultSerportFrameSp::DefaultSerportFrame());
    if (!frameFormat) {
        Common::Print(Events(), "new frame format failed.\n");
        return 0;
    }
    frameFormat->SetTransport(this);
    m_frameFormat = std::move(frameFormat);
    return 1;
}

int BurnChipBase::SendCmd(unsigned char* cmd, unsigned long length, unsigned char* reply, int replySize, int timeout)
{
    if (!m_frameFormat) {
        m_report.Fail(Common::OutcomeKind::TRANSFER, "frame format object is null.\n");
        return 0;
    }
    return m_frameFormat->SendCmd(cmd, length, reply, replySize, timeout);
}
