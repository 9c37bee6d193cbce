#include "cli/run_observer.h"

#include "cli/front_end.h"
#include "cli/run_report.h"
#include "common/console_output.h"
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
            ConsoleOutput::Printf("warning: cannot write the event lines to %s\n", eventsPath.c_str());
        }
    }
}

double RunObserver::Elapsed() const
{
    return static_cast<double>(Platform::MonotonicUs() - m_startUs) / MICROSECONDS;
}

void RunObserver::WriteEvent(const EventLine::Event& event)
{
    if (m_events.is_open()) {
        m_events << EventLine::Format(event) << std::endl;
    }
}

void RunObserver::Stage(Common::RunStage stage)
{
    if (stage == Common::RunStage::WAITING_FOR_BOARD) {
        EventLine::Event event;
        event.kind = EventLine::Event::Kind::WAITING;
        WriteEvent(event);
    }
}

void RunObserver::ImageStarted(const Common::ImageStart& image)
{
    m_record.ImageStarted(image, Elapsed());
    EventLine::Event event;
    event.kind = EventLine::Event::Kind::IMAGE_STARTED;
    event.name = image.name;
    event.type = image.type;
    event.bytes = image.bytes;
    WriteEvent(event);
}

void RunObserver::Progress(int percent)
{
    EventLine::Event event;
    event.kind = EventLine::Event::Kind::PROGRESS;
    event.percent = percent;
    WriteEvent(event);
}

void RunObserver::ImageEnded(Common::ImageResult result, const Common::Outcome& /*outcome*/)
{
    m_record.ImageEnded(result, Elapsed());
    EventLine::Event event;
    event.kind = EventLine::Event::Kind::IMAGE_ENDED;
    event.ok = result != Common::ImageResult::FAILED;
    event.result = Common::ImageResultName(result);
    WriteEvent(event);
}

void RunObserver::CheckStarted(const Common::ImageStart& image)
{
    m_record.CheckStarted(image, Elapsed());
    EventLine::Event event;
    event.kind = EventLine::Event::Kind::CHECK_STARTED;
    event.name = image.name;
    event.bytes = image.bytes;
    WriteEvent(event);
}

void RunObserver::ImageChecked(const Common::ImageCheck& check)
{
    m_record.ImageChecked(check, Elapsed());
    EventLine::Event event;
    event.kind = EventLine::Event::Kind::CHECK_ENDED;
    event.name = check.name;
    event.check = check.result;
    event.firstDifference = check.firstDifference;
    event.differingBytes = check.differingBytes;
    WriteEvent(event);
}

void RunObserver::LineRateChanged(uint32_t rate)
{
    m_record.LineRateChanged(rate);
}

void RunObserver::Finish(const BurnerWorkerBase* job, const std::string& operation, const Common::Outcome& outcome)
{
    if (!outcome.Ok()) {
        EventLine::Event event;
        event.kind = EventLine::Event::Kind::ERROR;
        event.text = outcome.Summary();
        event.errorKind = Common::OutcomeKindName(outcome.kind);
        WriteEvent(event);
    }
    if (m_reportPath.empty()) {
        return;
    }
    RunReport::RunFacts facts;
    facts.version = VERSION;
    facts.operation = operation;
    facts.startTime = m_startTime;
    facts.seconds = Elapsed();
    facts.outcome = outcome;
    facts.cancelled = CancelRequest::IsRequested();
    facts.images = m_record.Images();
    facts.lineRates = m_record.LineRates();
    if (job != nullptr) {
        const BurnInfo::BurnContext& context = job->GetContext();
        facts.chipName = context.GetChipName();
        facts.chipType = context.GetChipType();
        facts.port = context.GetSerialPort();
    }
    if (!RunReport::WriteAtomically(m_reportPath, RunReport::ToJson(facts))) {
        ConsoleOutput::Printf("warning: cannot write the run report %s\n", m_reportPath.c_str());
    }
}

}  // namespace FrontEnd
