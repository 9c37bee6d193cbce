#include "device/burn_chip_base.h"

#include <algorithm>

#include "common/console.h"
#include "platform/monotonic_clock.h"
#include "device/frame_format_base.h"
#include "transport/transport_protocol_base.h"

uint32_t BurnChipBase::m_chipType = 0;
uint32_t BurnChipBase::m_department = 0;
bool BurnChipBase::m_isOnlyBurnLoader = false;
bool BurnChipBase::m_isBurnDeviceInfo = false;
bool BurnChipBase::m_isEraseBeforeBurn = true;
uint32_t BurnChipBase::m_packetSize = 1024;
uint32_t BurnChipBase::m_typeframeTimeout = 100000;
uint32_t BurnChipBase::m_typeframeFrequency = 500;

namespace {
// Longest single wait inside a reply window, so that a lost line or a cancel
// is noticed even while the board stays silent.
constexpr uint32_t WAIT_SLICE_MS = 50;
} // namespace

BurnChipBase::BurnChipBase() = default;

BurnChipBase::~BurnChipBase()
{
    m_downloadProtocol.reset();
    m_frameFormat.reset();
    if (m_transport) {
        m_transport->Close();
        m_transport.reset();
    }
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

void BurnChipBase::SetCtrlPeriod(int period) { m_ctrlPeriod = static_cast<uint32_t>(period); }
void BurnChipBase::SetEraseMode(int mode) { m_eraseMode = static_cast<uint32_t>(mode); }
void BurnChipBase::SetIsOnlyEraseAll(bool onlyEraseAll) { m_isOnlyEraseAll = onlyEraseAll; }
void BurnChipBase::SetSwitchAfterLoader(bool switchAfterLoader) { m_switchAfterLoader = switchAfterLoader; }
void BurnChipBase::SetBeforeReset(bool beforeReset) { m_beforeReset = beforeReset; }
void BurnChipBase::SetAtResetCommand(const std::string& command) { m_atResetCommand = command; }

unsigned long BurnChipBase::Send(const unsigned char* data, unsigned long length)
{
    return m_transport ? m_transport->Send(data, length) : 0;
}

unsigned long BurnChipBase::Receive(unsigned char* buffer, unsigned long length)
{
    return m_transport ? m_transport->Receive(buffer, length) : 0;
}

bool BurnChipBase::WaitForData(uint32_t timeoutMs)
{
    return m_transport ? m_transport->WaitForData(timeoutMs) : false;
}

bool BurnChipBase::CheckIsCancel()
{
    return m_transport ? m_transport->IsCancel() : false;
}

void BurnChipBase::SetIsCancel()
{
    if (m_transport) {
        m_transport->SetIsCancel(true);
    }
}

long long BurnChipBase::GetThisPtr() const
{
    return reinterpret_cast<long long>(this);
}

bool BurnChipBase::IsLineBroken() const
{
    return m_transport && m_transport->IsBroken();
}

void BurnChipBase::SetProgress(int percent)
{
    if (g_setProgress != nullptr) {
        g_setProgress(GetThisPtr(), percent);
    }
}

bool BurnChipBase::LineLost()
{
    if (!IsLineBroken()) {
        return false;
    }
    // Asking once more lets the transport tell the user (it does so once).
    m_transport->WaitForData(0);
    return true;
}

bool BurnChipBase::WaitInWindow(uint32_t start, unsigned long window)
{
    if (!m_transport) {
        return false;
    }
    const uint32_t elapsed = Common::GetTime() - start;
    if (elapsed >= window) {
        return false;
    }
    const unsigned long left = window - elapsed;
    if (m_transport->WaitForData(static_cast<uint32_t>(std::min<unsigned long>(left, WAIT_SLICE_MS)))) {
        return true;  // bytes that came before a loss are still read
    }
    return !LineLost();
}
