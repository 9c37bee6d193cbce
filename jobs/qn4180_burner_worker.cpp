#include "jobs/qn4180_burner_worker.h"

namespace Qn4180BurnerWorkerSp {

Qn4180BurnerWorker::Qn4180BurnerWorker(std::unique_ptr<BurnInfo::BurnContext> context)
    : Vb27BurnerWorker(std::move(context))
{
}

} // namespace Qn4180BurnerWorkerSp
