#ifndef TARNWICK_JOBS_BURNER_WORKER_FACTORY_H
#define TARNWICK_JOBS_BURNER_WORKER_FACTORY_H

// Creates the burn job that serves a chip type of the connection-chip
// department; the front end checks the department before it asks.

#include <memory>

#include "jobs/burner_worker_base.h"
#include "settings/burn_context.h"

namespace Jobs {

// The job owns context from now on; null after a printed message.
std::unique_ptr<BurnerWorkerBase> CreateBurnerWorker(int chipType, std::unique_ptr<BurnInfo::BurnContext> context);

} // namespace Jobs

#endif
