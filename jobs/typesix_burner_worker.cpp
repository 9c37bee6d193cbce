#include "jobs/typesix_burner_worker.h"

#include <cstdio>
#include <map>
#include <utility>

#include "common/chip_family.h"

using BurnInfo::FwpkgBinInfo;

namespace {

void EmitImageStarted(const FwpkgBinInfo& entry, int fileType)
{
    Jobs::JobEvent event;
    event.kind = Jobs::JobEvent::Kind::IMAGE_STARTED;
    event.text = entry.imageName;
    event.imageType = entry.imageType;
    event.address = entry.burnAddress;
    event.fileType = fileType;
    event.bytes = entry.length;
    BurnerWorkerBase::Emit(event);
}

void EmitImageEnded(bool ok)
{
    Jobs::JobEvent event;
    event.kind = Jobs::JobEvent::Kind::IMAGE_ENDED;
    event.ok = ok;
    BurnerWorkerBase::Emit(event);
}

// Load list of the ssb ("a|b|c..."): image, digest, and empty key store, certificate and
// signature fields.
constexpr const char* LOADER_SPEC_TAIL = "||||";
constexpr const char* SPEC_SEPARATOR = "|";

} // namespace

TypeSixBurnerWorker::TypeSixBurnerWorker(std::unique_ptr<BurnInfo::BurnContext> context)
    : BurnerWorkerBase(std::move(context)), m_onlyBurnNames(m_burnContext->GetOnlyBurnNames())
{
}

uint32_t TypeSixBurnerWorker::TransferBaudRate() const
{
    const int baud = m_burnContext->GetBaudRate();
    return baud > 0 ? static_cast<uint32_t>(baud) : Common::FamilyOf(m_burnContext->GetChipType()).bootRate;
}

// The port opens at the boot rate whatever rate is asked for (the ROM and the ssb
// load run at it); the rate handed over here is the one SetSpeed announces
// before each image, so "-b" takes effect for the image transfers.
bool TypeSixBurnerWorker::InitTransport()
{
    if (!OpenBoardPort(TransferBaudRate())) {
        return false;
    }
    SetChipType(static_cast<uint32_t>(m_burnContext->GetChipType()));
    SetIsReady(m_deviceHandle, 1);
    return true;
}

int TypeSixBurnerWorker::Burn()
{
    if (!ListPackage()) {
        return BurnInfo::BURN_PARTITION_FAILED;
    }
    if (!InitTransport()) {
        return BurnInfo::INIT_TRANSFER_WAY_FAILED;
    }
    if (!BurnListedPackage()) {
        return BurnInfo::BURN_PARTITION_FAILED;
    }
    // The chip object writes the reset frame and returns the port to the boot rate.
    (void)Reset(m_deviceHandle);
    return BurnInfo::SUCCESS;
}

bool TypeSixBurnerWorker::CheckSelection(const std::string& package) const
{
    if (m_binInfoList.empty() && !m_onlyBurnNames.empty()) {
        std::printf("error: No image of %s matches the -onlyburn: names.\n", package.c_str());
        return false;
    }
    // Images share one directory: two different images of one name would be
    // burned both with the bytes of the one unpacked last.
    std::map<std::string, std::pair<uint32_t, uint32_t>> placed;
    for (const FwpkgBinInfo& entry : m_binInfoList) {
        const auto where = std::make_pair(entry.offset, entry.length);
        const auto found = placed.emplace(entry.imageName, where);
        if (!found.second && found.first->second != where) {
            std::printf("error: Two different images of %s are named %s.\n", package.c_str(),
                        entry.imageName.c_str());
            return false;
        }
    }
    const uint64_t maxSsbLength = static_cast<uint64_t>(MAX_SSB_PACKETS) * DEFAULT_PER_PACKET_SIZE;
    for (const FwpkgBinInfo& entry : m_binInfoList) {
        if (entry.imageType == Common::TYPESIX_IMAGE_SSB && entry.length > maxSsbLength) {
            std::printf("error: Loader %s of %u bytes needs more than %u packets of %d bytes.\n",
                        entry.imageName.c_str(), entry.length, MAX_SSB_PACKETS, DEFAULT_PER_PACKET_SIZE);
            return false;
        }
    }
    return true;
}

bool TypeSixBurnerWorker::BurnPartitions()
{
    return ListPackage() && BurnListedPackage();
}

bool TypeSixBurnerWorker::ListPackage()
{
    const std::string path = m_burnContext->GetFilePath();
    if (path.empty()) {
        std::printf("error: No fwpkg file specified!\n");
        return false;
    }
    // The listing refuses a table cut short, a wrong CRC, images past the end
    // and names that would leave the extract directory.
    if (!FwpkgSp::ParseFwpkgFile(path, m_binInfoList)) {
        return false;
    }
    FwpkgSp::FilterByOnlyBurn(m_binInfoList, m_onlyBurnNames, Common::FamilyOf(m_burnContext->GetChipType()));
    return CheckSelection(path);
}

bool TypeSixBurnerWorker::BurnListedPackage()
{
    const std::string path = m_burnContext->GetFilePath();
    const std::string extractDir = FwpkgSp::GetExtractDir(path);
    FwpkgSp::CreateExtractDir(extractDir);
    if (!FwpkgSp::UnpackFwpkgImages(path, m_binInfoList, extractDir)) {
        return false;
    }

    for (const FwpkgBinInfo& entry : m_binInfoList) {
        if (entry.imageType != Common::TYPESIX_IMAGE_SSB) {
            continue;
        }
        FwpkgBinInfo unpacked = entry;
        unpacked.filePath = extractDir + entry.imageName;
        if (BurnLoader(unpacked) != BurnInfo::SUCCESS) {
            return false;
        }
    }
    for (const FwpkgBinInfo& entry : m_binInfoList) {
        if (!Common::TypeSixJobBurnsAsImage(entry.imageType)) {
            continue;
        }
        FwpkgBinInfo unpacked = entry;
        unpacked.filePath = extractDir + entry.imageName;
        if (BurnOtherFile(unpacked) != BurnInfo::SUCCESS) {
            return false;
        }
    }
    return true;
}

int TypeSixBurnerWorker::BurnLoader(const FwpkgBinInfo& entry)
{
    // The chip object waits for the ssb to announce itself after the load.
    SetIsReady(m_deviceHandle, 0);
    SetPerPacketSize(m_deviceHandle, DEFAULT_PER_PACKET_SIZE);
    const std::string spec =
        entry.filePath + SPEC_SEPARATOR + FwpkgSp::GetSha256FilePath(entry.filePath) + LOADER_SPEC_TAIL;
    EmitImageStarted(entry, -1);
    const bool loaded = BootDownload(m_deviceHandle, spec.c_str(), 0, 0, nullptr, nullptr) != 0;
    EmitImageEnded(loaded);
    if (!loaded) {
        std::printf("error: Burn loader %s failed!\n", entry.imageName.c_str());
        return BurnInfo::BURN_BOOT_FAILED;
    }
    std::printf("Burn %s successfully.\n", entry.imageName.c_str());
    return BurnInfo::SUCCESS;
}

int TypeSixBurnerWorker::BurnOtherFile(const FwpkgBinInfo& entry)
{
    std::printf("BurnOtherFile1.\n");
    // The ssb is running already: no wait for its start text.
    SetIsReady(m_deviceHandle, 0);
    int fileType = 0;
    if (!Common::TypeSixJobFileType(entry.imageType, fileType)) {
        return BurnInfo::SUCCESS;
    }
    // No reset after the image, so that the next image (and a second attempt
    // after a failed one) still reaches the running ssb.
    SetIsReset(m_deviceHandle, 0);
    const std::string spec = entry.filePath + SPEC_SEPARATOR + FwpkgSp::GetSha256FilePath(entry.filePath);
    std::printf("BurnOtherFile2.\n");

    const auto attempt = [&]() {
        EmitImageStarted(entry, fileType);
        const int done =
            DownloadToFlash(m_deviceHandle, spec.c_str(), 0, 0, entry.burnAddress, entry.burnSize, 0, fileType);
        EmitImageEnded(done != 0);
        std::printf("BurnOtherFile3.\n");
        return done;
    };
    int result = attempt();
    if (result == 0) {
        result = attempt();
    }
    if (result == 0) {
        std::printf("error: Burn %s failed!\n", entry.imageName.c_str());
        return BurnInfo::BURN_PARTITION_FAILED;
    }
    std::printf("Burn %s successfully.\n", entry.imageName.c_str());
    return BurnInfo::SUCCESS;
}
