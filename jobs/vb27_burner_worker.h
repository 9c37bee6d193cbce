#ifndef TARNWICK_JOBS_VB27_BURNER_WORKER_H
#define TARNWICK_JOBS_VB27_BURNER_WORKER_H

// Burn job of the Vb27 boards (and, unchanged, of the Qn4180 boards): the chip
// object burns the whole package; the job configures it, hands it the package
// and may restart the board afterwards with the reset frame.

#include <memory>
#include <string>
#include <vector>

#include "jobs/burner_worker_base.h"

namespace Vb27BurnerWorkerSp {

class Vb27BurnerWorker : public BurnerWorkerBase {
public:
    explicit Vb27BurnerWorker(std::unique_ptr<BurnInfo::BurnContext> context);
    ~Vb27BurnerWorker() override = default;

    int Burn() override;
    int Read() override;
    int Erase() override;

protected:
    // SEBOOT_RESET restarts the board out of its loader. It is sent without
    // waiting for an answer; a failed write does not change the result.
    void SendResetFrame();
    // The package is read and checked before the operator is asked for a
    // reset, on the chip object that burns it later.
    bool CheckPackage();
    // False after a message when the read has no output file or size, or would
    // write over the package whose loader it needs.
    bool CheckReadTarget();
    // The burn check of a package: every image the burn sent that the board
    // keeps in flash as sent is read back into memory and compared with the
    // package's bytes. SUCCESS, BURN_CHECK_FAILED after a difference, or
    // READ_PARTITION_FAILED when a read-back failed.
    int CheckBurnedImages();
    // One image of it: true when it could be read back; its check in check.
    bool CheckBurnedImage(const BurnChipBase::BurnedImage& image, Common::ImageCheck& check);

    std::vector<std::string> m_onlyBurnNames;
};

} // namespace Vb27BurnerWorkerSp

#endif
