#include "jobs/burner_worker_factory.h"

#include <cstdio>
#include <new>

#include "jobs/qn4180_burner_worker.h"
#include "jobs/vb27_burner_worker.h"

namespace Jobs {

namespace {

constexpr int VB27_CHIP_TYPE = 0x30004;
constexpr int QN4180_CHIP_TYPE = 0x30005;

// The TypeSix job (0x30002) and the connection job (every other type) plug in
// here. Until they do, the run must end as a failure, never as a burn that
// seemed to succeed.
std::unique_ptr<BurnerWorkerBase> CreateJobNotYetBuilt(int chipType)
{
    std::printf("error: No burn job is available for chip type 0x%x in this build.\n",
                static_cast<unsigned int>(chipType));
    return nullptr;
}

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
    switch (chipType) {
    case VB27_CHIP_TYPE:
        return Create<Vb27BurnerWorkerSp::Vb27BurnerWorker>(std::move(context));
    case QN4180_CHIP_TYPE:
        return Create<Qn4180BurnerWorkerSp::Qn4180BurnerWorker>(std::move(context));
    default:
        return CreateJobNotYetBuilt(chipType);
    }
}

} // namespace Jobs
