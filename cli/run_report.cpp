#include "cli/run_report.h"

#include <filesystem>
#include <cstdio>
#include <ctime>
#include <fstream>

#include "common/chip_family.h"
#include "settings/burn_info.h"
#include "platform/file_access.h"

namespace RunReport {

namespace {

constexpr const char* TEMPORARY_SUFFIX = ".tmp";

const char* EventName(Jobs::JobEvent::Kind kind)
{
    switch (kind) {
    case Jobs::JobEvent::Kind::WAITING_FOR_BOARD: return "waiting";
    case Jobs::JobEvent::Kind::IMAGE_STARTED: return "imageStarted";
    case Jobs::JobEvent::Kind::IMAGE_PROGRESS: return "progress";
    case Jobs::JobEvent::Kind::IMAGE_ENDED: return "imageEnded";
    case Jobs::JobEvent::Kind::ERROR: return "error";
    }
    return "unknown";
}

nlohmann::json ImageJson(const Jobs::ImageRecord& image)
{
    nlohmann::json out = {
        {"name", image.name},       {"type", image.type},       {"bytes", image.bytes},
        {"seconds", image.seconds}, {"bytesPerSecond", image.BytesPerSecond()},
        {"attempts", image.attempts}, {"result", image.result},
    };
    // TypeSix images go by file type; package images of the other families by address.
    if (image.fileType >= 0) {
        out["fileType"] = image.fileType;
    }
    out["address"] = image.address;
    return out;
}

}  // namespace

std::string ResultMeaning(int result)
{
    static const char* const MEANINGS[] = {
        "success",
        "wrong parameters",
        "a settings or input file could not be loaded",
        "the port could not be opened",
        "the loader could not be burned",
        "an image could not be burned",
        "a partition could not be erased",
        "the flash could not be read",
        "null pointer",
        "out of memory",
        "a board command failed",
        "the small boot image could not be burned",
        "the flash could not be erased",
        "the burned image differs from the file",
        "the board could not be reset",
        "network error",
    };
    if (result >= 0 && result < static_cast<int>(sizeof(MEANINGS) / sizeof(MEANINGS[0]))) {
        return MEANINGS[result];
    }
    return "unknown result";
}

std::string UtcNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    // One thread writes the report; gmtime's shared buffer is copied at once.
    utc = *std::gmtime(&now);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

nlohmann::json ToJson(const RunFacts& facts)
{
    nlohmann::json images = nlohmann::json::array();
    for (const Jobs::ImageRecord& image : facts.images) {
        images.push_back(ImageJson(image));
    }
    return {
        {"toolVersion", facts.version},
        {"operation", facts.operation},
        {"chipName", facts.chipName},
        {"chipType", facts.chipType},
        {"family", Common::FamilyName(facts.chipType)},
        {"port", facts.port},
        {"lineRates", facts.lineRates},
        {"startTime", facts.startTime},
        {"totalSeconds", facts.seconds},
        {"resultCode", facts.result},
        {"resultMeaning", ResultMeaning(facts.result)},
        {"cancelled", facts.cancelled},
        {"lastError", facts.lastError},
        {"images", images},
    };
}

std::string EventLine(const Jobs::JobEvent& event)
{
    nlohmann::json line = {{"event", EventName(event.kind)}};
    switch (event.kind) {
    case Jobs::JobEvent::Kind::IMAGE_STARTED:
        line["name"] = event.text;
        line["type"] = event.imageType;
        line["bytes"] = event.bytes;
        break;
    case Jobs::JobEvent::Kind::IMAGE_PROGRESS: line["percent"] = event.percent; break;
    case Jobs::JobEvent::Kind::IMAGE_ENDED: line["ok"] = event.ok; break;
    case Jobs::JobEvent::Kind::ERROR: line["text"] = event.text; break;
    case Jobs::JobEvent::Kind::WAITING_FOR_BOARD: break;
    }
    // Names from a package need not be UTF-8.
    return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool WriteAtomically(const std::string& path, const nlohmann::json& document)
{
    const std::string temporary = path + TEMPORARY_SUFFIX;
    {
        std::ofstream out(std::filesystem::u8path(temporary), std::ios::binary | std::ios::trunc);
        if (!out) {
            return false;
        }
        out << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        out.close();
        if (out.fail()) {
            Platform::RemoveFile(temporary);
            return false;
        }
    }
    return Platform::MoveIntoPlace(temporary, path) == 0;
}

}  // namespace RunReport
