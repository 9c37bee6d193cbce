#ifndef TARNWICK_CLI_BURNER_WORKER_SEAM_H
#define TARNWICK_CLI_BURNER_WORKER_SEAM_H

// The one place where burn jobs plug into the front end.
//
// No job classes are built into the tool yet: this header declares the part of
// the job base that the front end drives, and CreateBurnerWorker has no job to
// offer. When the jobs arrive, the jobs' own base class and factory replace the
// declarations below and burner_worker_seam.cpp goes away; front_end.cpp keeps
// calling CreateBurnerWorker and the three operations unchanged.

#include <memory>

#include "settings/burn_context.h"

class BurnerWorkerBase {
public:
    virtual ~BurnerWorkerBase() = default;
    virtual int Burn() = 0;
    virtual int Erase() = 0;
    virtual int Read() = 0;
};

namespace FrontEnd {

// The job that serves chipType, owning context from now on; null after a
// printed message when there is none.
std::unique_ptr<BurnerWorkerBase> CreateBurnerWorker(int chipType,
                                                     std::unique_ptr<BurnInfo::BurnContext> context);

} // namespace FrontEnd

#endif
