// Transfers delegated to the chip family's protocol. The protocol object
// lives for exactly one operation.
#include "common/trace_line.h"
#include "device/burn_chip_base.h"
#include "transport/transport_protocol_base.h"

std::unique_ptr<TransportProtocolBase> BurnChipBase::CreateDownloadProtocol()
{
    return nullptr;
}

int BurnChipBase::NewDownloadProtocol()
{
    if (!m_line.IsOpen()) {
        m_report.Fail(Common::OutcomeKind::PORT, "no transmission mode is selected.\n");
        return 0;
    }
    if (Family().transfers == Common::TransferProtocol::NONE) {
        m_report.Fail(Common::OutcomeKind::NOT_OFFERED, "no chipType is match.\n");
        return 0;
    }
    m_downloadProtocol = CreateDownloadProtocol();
    if (!m_downloadProtocol) {
        m_report.Fail(Common::OutcomeKind::TRANSFER, "new boot download protocol failed.\n");
        return 0;
    }
    return 1;
}

int BurnChipBase::DownloadFile(const char* path, unsigned long a, unsigned long b, int fileType)
{
    Common::PrintTraceLine(Events(), "DownloadFile1.\n");
    if (NewDownloadProtocol() == 0) {
        return 0;
    }
    Common::PrintTraceLine(Events(), "DownloadFile2.\n");
    m_downloadProtocol->SetFileType(fileType);
    const bool result = m_downloadProtocol->DownloadFile(path, a, b);
    m_downloadProtocol.reset();
    Common::PrintTraceLine(Events(), "DownloadFile3.\n");
    return result ? 1 : 0;
}

int BurnChipBase::DownloadToDdr(const char* path, unsigned char* buf, unsigned long a, unsigned long b)
{
    if (NewDownloadProtocol() == 0) {
        return 0;
    }
    const bool result = m_downloadProtocol->DownloadFileToDdr(buf, b, a, path);
    m_downloadProtocol.reset();
    return result ? 1 : 0;
}

int BurnChipBase::UploadFile(unsigned long addr, int length, const char* path)
{
    if (NewDownloadProtocol() == 0) {
        return 0;
    }
    const bool result = m_downloadProtocol->UploadFile(path, length, addr);
    m_downloadProtocol.reset();
    return result ? 1 : 0;
}

int BurnChipBase::UploadData(unsigned long /*addr*/, uint32_t /*length*/, std::vector<uint8_t>& /*data*/)
{
    m_report.Fail(Common::OutcomeKind::NOT_OFFERED, "This chip reads no flash back into memory.\n");
    return 0;
}

int BurnChipBase::EraseFlash(unsigned long addr, unsigned long size)
{
    if (NewDownloadProtocol() == 0) {
        return 0;
    }
    const bool result = m_downloadProtocol->EraseFlash(addr, size);
    m_downloadProtocol.reset();
    if (!result) {
        m_report.Fail(Common::OutcomeKind::TRANSFER, "erase flash failed.\n");
    }
    return result ? 1 : 0;
}
