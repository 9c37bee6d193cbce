#include "cli/run_observer.h"

#include <algorithm>
#include <cstdio>

#include "cli/front_end.h"
#include "cli/run_report.h"
#include "common/chip_family.h"
#include "jobs/cancel_request.h"
#include "platform/monotonic_clock.h"

namespace FrontEnd {

namespace {

constexpr double MICROSECONDS = 1e6;

}  // namespace

RunObserver::RunObserver(std::string reportPath, const std::string& eventsPath)
    : m_reportPath(std::move(reportPath)), m_startTime(RunReport::UtcNow()), m_startUs(Platform::MonotonicUs())
{
    if (!eventsPath.empty()) {
        m_events.open(eventsPath, std::ios::out | std::ios::app);
        if (!m_events) {
            std::printf("warning: cannot write the event lines to %s\n", eventsPath.c_str());
        }
    }
    BurnerWorkerBase::SetEventSink([this](const Jobs::JobEvent& event) { OnEvent(event); });
}

RunObserver::~RunObserver()
{
    BurnerWorkerBase::SetEventSink(nullptr);
}

double RunObserver::Elapsed() const
{
    return static_cast<double>(Platform::MonotonicUs() - m_startUs) / MICROSECONDS;
}

void RunObserver::OnEvent(const Jobs::JobEvent& event)
{
    m_record.OnEvent(event, Elapsed());
    if (m_events.is_open()) {
        m_events << RunReport::EventLine(event) << std::endl;
    }
}

void RunObserver::Finish(const BurnerWorkerBase* job, const std::string& operation, int result)
{
    if (m_reportPath.empty()) {
        return;
    }
    RunReport::RunFacts facts;
    facts.version = VERSION;
    facts.operation = operation;
    facts.startTime = m_startTime;
    facts.seconds = Elapsed();
    facts.result = result;
    facts.cancelled = CancelRequest::IsRequested();
    facts.lastError = m_record.LastError();
    if (facts.lastError.empty() && result != BurnInfo::SUCCESS) {
        facts.lastError = RunReport::ResultMeaning(result);
    }
    facts.images = m_record.Images();
    if (job != nullptr) {
        const BurnInfo::BurnContext& context = job->GetContext();
        facts.chipName = context.GetChipName();
        facts.chipType = context.GetChipType();
        facts.port = context.GetSerialPort();
        // Boards answer the handshake at the boot rate before any switch.
        const uint32_t bootRate = Common::FamilyOf(context.GetChipType()).bootRate;
        const uint32_t rate = context.GetBaudRate() > 0 ? static_cast<uint32_t>(context.GetBaudRate()) : bootRate;
        facts.lineRates = {bootRate};
        if (rate != bootRate) {
            facts.lineRates.push_back(rate);
        }
    }
    if (!RunReport::WriteAtomically(m_reportPath, RunReport::ToJson(facts))) {
        std::printf("warning: cannot write the run report %s\n", m_reportPath.c_str());
    }
}

}  // namespace FrontEnd
