#include "jobs/typesix_burner_worker.h"


#include "common/chip_family.h"
#include "common/trace_line.h"

using BurnInfo::FwpkgBinInfo;

namespace {

Common::ImageStart ImageOf(const FwpkgBinInfo& entry, int fileType)
{
    return {entry.imageName, entry.imageType, entry.burnAddress, fileType, entry.length};
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
        return Failed(BurnInfo::BURN_PARTITION_FAILED);
    }
    if (!InitTransport()) {
        return Failed(BurnInfo::INIT_TRANSFER_WAY_FAILED);
    }
    if (!BurnListedPackage()) {
        return Failed(BurnInfo::BURN_PARTITION_FAILED);
    }
    // The chip object writes the reset frame and returns the port to the boot rate.
    (void)Reset(m_deviceHandle);
    return BurnInfo::SUCCESS;
}

bool TypeSixBurnerWorker::CheckSelection(const std::string& package)
{
    constexpr Common::OutcomeKind REFUSED = Common::OutcomeKind::PACKAGE_REFUSED;
    if (m_binInfoList.empty() && !m_onlyBurnNames.empty()) {
        Fail(REFUSED, "", "error: No image of %s matches the -onlyburn: names.\n", package.c_str());
        return false;
    }
    return Report(FwpkgSp::CheckTypeSixImages(package, m_binInfoList));
}

bool TypeSixBurnerWorker::BurnPartitions()
{
    return ListPackage() && BurnListedPackage();
}

bool TypeSixBurnerWorker::ListPackage()
{
    const std::string path = m_burnContext->GetFilePath();
    if (path.empty()) {
        Fail(Common::OutcomeKind::SETTINGS, "", "error: No fwpkg file specified!\n");
        return false;
    }
    // The listing refuses a table cut short, a wrong CRC, images past the end
    // and names that would leave the extract directory.
    if (!Report(FwpkgSp::ParseFwpkgFile(path, m_binInfoList))) {
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
    if (!Report(FwpkgSp::UnpackFwpkgImages(path, m_binInfoList, extractDir))) {
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
    m_events.ImageStarted(ImageOf(entry, -1));
    const bool loaded = BootDownload(m_deviceHandle, spec.c_str(), 0, 0, nullptr, nullptr) != 0;
    m_events.ImageEnded(loaded ? Common::ImageResult::CONFIRMED : Common::ImageResult::FAILED,
                        GetLastFailure(m_deviceHandle));
    if (loaded) {
        NoteBoardDigest(entry);
    }
    if (!loaded) {
        Fail(Common::OutcomeKind::TRANSFER, entry.imageName, "error: Burn loader %s failed!\n",
             entry.imageName.c_str());
        return BurnInfo::BURN_BOOT_FAILED;
    }
    Printf("Burn %s successfully.\n", entry.imageName.c_str());
    return BurnInfo::SUCCESS;
}

int TypeSixBurnerWorker::BurnOtherFile(const FwpkgBinInfo& entry)
{
    Common::PrintTraceLine(m_events, "BurnOtherFile1.\n");
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
    Common::PrintTraceLine(m_events, "BurnOtherFile2.\n");

    const auto attempt = [&]() {
        m_events.ImageStarted(ImageOf(entry, fileType));
        const int done =
            DownloadToFlash(m_deviceHandle, spec.c_str(), 0, 0, entry.burnAddress, entry.burnSize, 0, fileType);
        m_events.ImageEnded(done != 0 ? Common::ImageResult::CONFIRMED : Common::ImageResult::FAILED,
                            GetLastFailure(m_deviceHandle));
        if (done != 0) {
            NoteBoardDigest(entry);
        }
        Common::PrintTraceLine(m_events, "BurnOtherFile3.\n");
        return done;
    };
    int result = attempt();
    if (result == 0) {
        result = attempt();
    }
    if (result == 0) {
        Fail(Common::OutcomeKind::TRANSFER, entry.imageName, "error: Burn %s failed!\n", entry.imageName.c_str());
        return BurnInfo::BURN_PARTITION_FAILED;
    }
    Printf("Burn %s successfully.\n", entry.imageName.c_str());
    return BurnInfo::SUCCESS;
}

// The board confirmed the image only once its digest matched: that is its
// burn check, with or without -c, and nothing is read back.
void TypeSixBurnerWorker::NoteBoardDigest(const FwpkgBinInfo& entry)
{
    if (Family().burnCheck == Common::BurnCheckMeaning::BOARD_DIGEST) {
        m_events.ImageChecked({entry.imageName, entry.burnAddress, Common::CheckResult::BOARD_DIGEST, 0, 0});
    }
}

bool TypeSixBurnerWorker::Report(const Common::Outcome& outcome)
{
    if (outcome.Ok()) {
        return true;
    }
    Printf("%s", outcome.message.c_str());
    Keep(outcome);
    return false;
}
