#ifndef TARNWICK_JOBS_CONNECTION_BURNER_WORKER_H
#define TARNWICK_JOBS_CONNECTION_BURNER_WORKER_H

// Burn job of every connection-chip type without a job of its own: the
// generic flow of the base, with a loader step that can load a small
// second-stage boot image first. Erase and read are not offered.

#include <memory>

#include "jobs/burner_worker_base.h"

class ConnectionBurnerWorker : public BurnerWorkerBase {
public:
    explicit ConnectionBurnerWorker(std::unique_ptr<BurnInfo::BurnContext> context);
    ~ConnectionBurnerWorker() override = default;

    bool DownloadBootData() override;

    bool DownloadSmallSsb();
};

#endif
