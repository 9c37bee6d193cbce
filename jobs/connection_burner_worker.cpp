#include "jobs/connection_burner_worker.h"

#include <string>

#include "common/chip_family.h"

using BurnInfo::PartitionItem;

ConnectionBurnerWorker::ConnectionBurnerWorker(std::unique_ptr<BurnInfo::BurnContext> context)
    : BurnerWorkerBase(std::move(context))
{
}

// The small-boot row's file already holds "image|digest"; only a table read
// with the TypeSix file types has one.
bool ConnectionBurnerWorker::DownloadSmallSsb()
{
    if (Common::FamilyOf(m_burnContext->GetChipType()).images != Common::ImageReading::TYPESIX) {
        return true;
    }
    const PartitionItem small = m_burnContext->GetSmallInfo();
    if (small.selectFile.empty()) {
        return true;
    }
    if (BootDownload(m_deviceHandle, small.selectFile.c_str(), static_cast<uint32_t>(small.start), 0, nullptr,
                     nullptr) == 0) {
        Fail(Common::OutcomeKind::TRANSFER, small.selectFile, "\nerror: Burn %s failed!\n", small.selectFile.c_str());
        return false;
    }
    return true;
}

bool ConnectionBurnerWorker::DownloadBootData()
{
    if (m_partitionInfo.empty() || !m_partitionInfo[0].sel) {
        return true;
    }
    if (!DownloadSmallSsb()) {
        return false;
    }
    const PartitionItem& loader = m_partitionInfo[0];
    if (BootDownload(m_deviceHandle, loader.selectFile.c_str(), static_cast<uint32_t>(loader.start), 0, nullptr,
                     nullptr) == 0) {
        Fail(Common::OutcomeKind::TRANSFER, loader.selectFile, "\nerror: Burn %s failed!\n",
             loader.selectFile.c_str());
        return false;
    }
    Printf("\nBurn %s successfully.\n", loader.selectFile.c_str());
    return true;
}
