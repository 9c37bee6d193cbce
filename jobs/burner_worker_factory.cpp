#include "jobs/burner_worker_factory.h"

#include <cstdio>
#include <new>

#include "common/chip_family.h"
#include "jobs/connection_burner_worker.h"
#include "jobs/qn4180_burner_worker.h"
#include "jobs/typesix_burner_worker.h"
#include "jobs/vb27_burner_worker.h"

namespace Jobs {

namespace {

template <typename Job>
std::unique_ptr<BurnerWorkerBase> Create(std::unique_ptr<BurnInfo::BurnContext> context)
{
    std::unique_ptr<BurnerWorkerBase> job(new (std::nothrow) Job(std::move(context)));
    if (!job) {
        std::printf("error: new BurnerWorker class failed!\n");
    }
    return job;
}

} // namespace

std::unique_ptr<BurnerWorkerBase> CreateBurnerWorker(int chipType, std::unique_ptr<BurnInfo::BurnContext> context)
{
    if (!context) {
        return nullptr;
    }
    switch (Common::FamilyOf(chipType).job) {
    case Common::FamilyJob::VB27:
        return Create<Vb27BurnerWorkerSp::Vb27BurnerWorker>(std::move(context));
    case Common::FamilyJob::QN4180:
        return Create<Qn4180BurnerWorkerSp::Qn4180BurnerWorker>(std::move(context));
    case Common::FamilyJob::TYPESIX:
        return Create<TypeSixBurnerWorker>(std::move(context));
    case Common::FamilyJob::CONNECTION:
        break;
    }
    return Create<ConnectionBurnerWorker>(std::move(context));
}

} // namespace Jobs
