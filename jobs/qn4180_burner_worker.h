#ifndef TARNWICK_JOBS_QN4180_BURNER_WORKER_H
#define TARNWICK_JOBS_QN4180_BURNER_WORKER_H

// The Qn4180 boards differ from the Vb27 boards only in their chip object,
// which the device library picks by chip type; the job is the same.

#include <memory>

#include "jobs/vb27_burner_worker.h"

namespace Qn4180BurnerWorkerSp {

class Qn4180BurnerWorker : public Vb27BurnerWorkerSp::Vb27BurnerWorker {
public:
    explicit Qn4180BurnerWorker(std::unique_ptr<BurnInfo::BurnContext> context);
    ~Qn4180BurnerWorker() override = default;
};

} // namespace Qn4180BurnerWorkerSp

#endif
