#ifndef TARNWICK_JOBS_TYPESIX_BURNER_WORKER_H
#define TARNWICK_JOBS_TYPESIX_BURNER_WORKER_H

// Burn job of the TypeSix boards: lists the fwpkg package, unpacks the
// selected images with a digest file beside each, loads the loader(s) through
// the boot ROM as second-stage boot loader, burns every other image through
// the running ssb and resets the board.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jobs/burner_worker_base.h"
#include "jobs/fwpkg.h"

class TypeSixBurnerWorker : public BurnerWorkerBase {
public:
    // Packet size of the ssb load.
    static constexpr int DEFAULT_PER_PACKET_SIZE = static_cast<int>(FwpkgSp::TYPESIX_SSB_PACKET_SIZE);

    explicit TypeSixBurnerWorker(std::unique_ptr<BurnInfo::BurnContext> context);
    ~TypeSixBurnerWorker() override = default;

    int Burn() override;
    bool InitTransport() override;

    // Lists the package, then unpacks and burns it.
    bool BurnPartitions();
    // Reads and checks the package and selects its images; every refusal
    // happens here, before the operator is asked for a reset.
    bool ListPackage();
    int BurnLoader(const BurnInfo::FwpkgBinInfo& entry);
    int BurnOtherFile(const BurnInfo::FwpkgBinInfo& entry);

    // The rate that SetSpeed announces for the image transfers: "-b" or
    // baudRate, the family's boot rate when none is usable.
    uint32_t TransferBaudRate() const;

private:
    // Refusals that must happen before anything reaches the board.
    bool CheckSelection(const std::string& package);
    bool BurnListedPackage();
    // Prints a failure of the package code and keeps it; true for success.
    bool Report(const Common::Outcome& outcome);
    // Tells the run that the board checked the image's digest.
    void NoteBoardDigest(const BurnInfo::FwpkgBinInfo& entry);

    std::vector<std::string> m_onlyBurnNames;
    std::vector<BurnInfo::FwpkgBinInfo> m_binInfoList;
};

#endif
