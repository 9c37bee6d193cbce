#include "jobs/vb27_burner_worker.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "common/trace_line.h"
#include "device/vb27_frames.h"
#include "jobs/flash_comparison.h"
#include "platform/file_commit.h"
#include "platform/file_access.h"

namespace Vb27BurnerWorkerSp {

namespace {

// True when both paths name the same file, also through links or a different
// spelling; a path that does not exist yet is compared by its resolved form.
bool IsSameFile(const std::string& a, const std::string& b)
{
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::exists(fs::u8path(a), error) && fs::exists(fs::u8path(b), error)) {
        const bool same = fs::equivalent(fs::u8path(a), fs::u8path(b), error);
        return !error && same;
    }
    const fs::path left = fs::weakly_canonical(fs::absolute(fs::u8path(a), error), error);
    const fs::path right = fs::weakly_canonical(fs::absolute(fs::u8path(b), error), error);
    return left == right;
}

} // namespace

Vb27BurnerWorker::Vb27BurnerWorker(std::unique_ptr<BurnInfo::BurnContext> context)
    : BurnerWorkerBase(std::move(context)), m_onlyBurnNames(m_burnContext->GetOnlyBurnNames())
{
}

void Vb27BurnerWorker::SendResetFrame()
{
    // The frame and its byte order are built in the one place that builds
    // every Vb27 frame.
    const std::vector<uint8_t> frame = Vb27Frames::BuildResetFrame();
    (void)SendBytes(m_deviceHandle, frame.data(), static_cast<uint32_t>(frame.size()));
}

bool Vb27BurnerWorker::CheckPackage()
{
    return CreateBoard(static_cast<uint32_t>(m_burnContext->GetBaudRate())) &&
           CheckAllinoneBin(m_deviceHandle, m_burnContext->GetBurnFile().c_str()) != 0;
}

int Vb27BurnerWorker::Burn()
{
    if (!CheckPackage()) {
        Fail(Common::OutcomeKind::PACKAGE_REFUSED, "", "\nerror: Burn %s failed!\n",
             m_burnContext->GetBurnFile().c_str());
        return Failed(BurnInfo::BURN_BOOT_FAILED);
    }
    if (!InitTransport()) {
        return Failed(BurnInfo::INIT_TRANSFER_WAY_FAILED);
    }
    m_deviceHandle->SetTargetBaudRate(static_cast<uint32_t>(m_burnContext->GetBaudRate()));
    m_deviceHandle->SetSwitchAfterLoader(m_burnContext->IsSwitchAfterLoader());
    m_deviceHandle->SetOnlyBurnNames(m_onlyBurnNames);
    m_deviceHandle->SetCtrlPeriod(m_burnContext->GetBurnInterval());
    m_deviceHandle->SetBeforeReset(m_burnContext->IsBeforeReset());
    m_deviceHandle->SetAtResetCommand(m_burnContext->GetResetAtCommand());

    const std::string burnFile = m_burnContext->GetBurnFile();
    if (DownloadAllinoneBin(m_deviceHandle, burnFile.c_str(), static_cast<uint32_t>(m_burnContext->GetAddress())) ==
        0) {
        Fail(Common::OutcomeKind::TRANSFER, "", "\nerror: Burn %s failed!\n", burnFile.c_str());
        return Failed(BurnInfo::BURN_BOOT_FAILED);
    }
    Printf("\nBurn %s successfully.\n", burnFile.c_str());
    // Before any reset frame: the loader that reads the flash back still runs.
    if (m_burnContext->GetBurnCheck() != 0 && Family().burnCheck == Common::BurnCheckMeaning::PACKAGE_READ_BACK) {
        const int checked = CheckBurnedImages();
        if (checked != BurnInfo::SUCCESS) {
            return Failed(checked);
        }
    }
    Common::PrintTraceLine(m_events, "\n[DEBUG] GetReboot() = %d\n", m_burnContext->GetReboot());
    if (m_burnContext->GetReboot() != 0) {
        SendResetFrame();
        Common::PrintTraceLine(m_events, "\nGetReboot1.\n");
    }
    return BurnInfo::SUCCESS;
}

int Vb27BurnerWorker::CheckBurnedImages()
{
    size_t checked = 0;
    bool differs = false;
    for (const BurnChipBase::BurnedImage& image : GetBurnedImages(m_deviceHandle)) {
        if (!Common::Vb27ImageKeptInFlash(image.type)) {
            continue;
        }
        Common::ImageCheck check;
        const bool read = CheckBurnedImage(image, check);
        m_events.ImageChecked(check);
        if (!read) {
            Printf("\nerror: Burn check failed!\n");
            return BurnInfo::READ_PARTITION_FAILED;
        }
        ++checked;
        differs = differs || check.result == Common::CheckResult::FAILED;
    }
    if (differs) {
        Printf("\nerror: Burn check failed!\n");
        return BurnInfo::BURN_CHECK_FAILED;
    }
    if (checked == 0) {
        Printf("\nBurn check: no image burned stays in flash as it was sent; nothing was read back.\n");
        return BurnInfo::SUCCESS;
    }
    Printf("\nBurn check successful!\n");
    return BurnInfo::SUCCESS;
}

bool Vb27BurnerWorker::CheckBurnedImage(const BurnChipBase::BurnedImage& image, Common::ImageCheck& check)
{
    check.name = image.name;
    check.address = image.address;
    Printf("\nReading back %s: %u bytes from 0x%08X.\n", image.name.c_str(), image.length, image.address);
    m_events.CheckStarted({image.name, image.type, image.address, -1, image.length});
    std::vector<uint8_t> flash;
    if (UploadData(m_deviceHandle, image.address, image.length, flash) == 0) {
        check.result = Common::CheckResult::READ_FAILED;
        Fail(Common::OutcomeKind::TRANSFER, image.name, "\nupload %s failed.\n", image.name.c_str());
        return false;
    }
    const Jobs::FlashComparison comparison = Jobs::CompareFlash(image.data, image.length, flash.data(), flash.size());
    if (comparison.equal) {
        check.result = Common::CheckResult::PASSED;
        return true;
    }
    check.result = Common::CheckResult::FAILED;
    check.firstDifference = image.address + static_cast<uint32_t>(comparison.firstDifference);
    check.differingBytes = comparison.differingBytes;
    Fail(Common::OutcomeKind::BURN_CHECK_MISMATCH, image.name,
         "\nImage %s differs from the package: first at flash address 0x%08X, %llu of %u bytes differ.\n",
         image.name.c_str(), check.firstDifference, static_cast<unsigned long long>(check.differingBytes),
         image.length);
    return true;
}

int Vb27BurnerWorker::Erase()
{
    if (!CheckPackage()) {
        Fail(Common::OutcomeKind::PACKAGE_REFUSED, "", "\nerror: Erase all flash failed!\n");
        return Failed(BurnInfo::ERASE_FAILED);
    }
    if (!InitTransport()) {
        return Failed(BurnInfo::INIT_TRANSFER_WAY_FAILED);
    }
    m_deviceHandle->SetBeforeReset(m_burnContext->IsBeforeReset());
    m_deviceHandle->SetAtResetCommand(m_burnContext->GetResetAtCommand());
    SetIsOnlyBurnLoader(1);

    const std::string burnFile = m_burnContext->GetBurnFile();
    if (EraseAllFlash(m_deviceHandle, burnFile.c_str()) == 0) {
        Fail(Common::OutcomeKind::TRANSFER, "", "\nerror: Erase all flash failed!\n");
        return Failed(BurnInfo::ERASE_FAILED);
    }
    Printf("\nErase all flash successfully.\n");
    if (m_burnContext->GetReboot() != 0) {
        SendResetFrame();
        Common::PrintTraceLine(m_events, "\nGetReboot1.\n");
    }
    return BurnInfo::SUCCESS;
}

bool Vb27BurnerWorker::CheckReadTarget()
{
    const std::string output = m_burnContext->GetReadFile();
    if (output.empty()) {
        Fail(Common::OutcomeKind::SETTINGS, "", "error: No output file for the read: give it with -readfile:PATH\n");
        return false;
    }
    if (m_burnContext->GetReadSize() == 0) {
        Fail(Common::OutcomeKind::SETTINGS, "", "error: Nothing to read: give the number of bytes with -readsize:N\n");
        return false;
    }
    const std::string package = m_burnContext->GetBurnFile();
    if (IsSameFile(output, package)) {
        Fail(Common::OutcomeKind::SETTINGS, "",
             "error: The read output %s is the package %s itself; refusing to write over it.\n", output.c_str(),
             package.c_str());
        return false;
    }
    return true;
}

// The package provides the loader; the flash contents go to the output file
// of "-readfile:", never over the package.
int Vb27BurnerWorker::Read()
{
    if (!CheckReadTarget()) {
        return Failed(BurnInfo::PARAM_ERROR);
    }
    if (!CheckPackage()) {
        Fail(Common::OutcomeKind::PACKAGE_REFUSED, "", "\nerror: Burn %s failed!\n",
             m_burnContext->GetBurnFile().c_str());
        return Failed(BurnInfo::BURN_BOOT_FAILED);
    }
    // The flash data goes beside the output and replaces it only once all of
    // it is on disk: a failed or cancelled read leaves an earlier file as it was.
    const std::string output = m_burnContext->GetReadFile();
    Platform::StagedFile staged(output);
    if (!staged.IsCreated()) {
        Fail(Common::OutcomeKind::FILE, "", "error: Cannot write the read output %s: %s\n", output.c_str(),
             staged.Error().c_str());
        return Failed(BurnInfo::READ_PARTITION_FAILED);
    }
    if (!InitTransport()) {
        return Failed(BurnInfo::INIT_TRANSFER_WAY_FAILED);
    }
    SetIsOnlyBurnLoader(1);

    const std::string burnFile = m_burnContext->GetBurnFile();
    const uint32_t address = static_cast<uint32_t>(m_burnContext->GetAddress());
    if (DownloadAllinoneBin(m_deviceHandle, burnFile.c_str(), address) == 0) {
        Fail(Common::OutcomeKind::TRANSFER, "", "\nerror: Burn %s failed!\n", burnFile.c_str());
        return Failed(BurnInfo::BURN_BOOT_FAILED);
    }
    Printf("\nBurn %s successfully.\n", burnFile.c_str());

    if (UploadFile(m_deviceHandle, address, static_cast<uint32_t>(m_burnContext->GetReadSize()),
                   staged.Path().c_str()) == 0) {
        Fail(Common::OutcomeKind::TRANSFER, "", "\nerror: Read %s failed.\n", output.c_str());
        return Failed(BurnInfo::READ_PARTITION_FAILED);
    }
    if (!staged.Commit()) {
        Fail(Common::OutcomeKind::FILE, "", "error: Cannot replace %s with the data read: %s\n", output.c_str(),
             staged.Error().c_str());
        Printf("\nerror: Read %s failed.\n", output.c_str());
        return Failed(BurnInfo::READ_PARTITION_FAILED);
    }
    Printf("\nRead %s successfully.\n", output.c_str());
    return BurnInfo::SUCCESS;
}

} // namespace Vb27BurnerWorkerSp
