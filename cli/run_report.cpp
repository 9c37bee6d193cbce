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

nlohmann::json ImageJson(const Jobs::ImageRecord& image)
{
    nlohmann::json out = {
        {"name", image.name},       {"type", image.type},       {"bytes", image.bytes},
        {"seconds", image.seconds}, {"bytesPerSecond", image.BytesPerSecond()},
        {"attempts", image.attempts}, {"result", image.result}, {"confirmed", image.confirmed},
    };
    // TypeSix images go by file type; package images of the other families by address.
    if (image.fileType >= 0) {
        out["fileType"] = image.fileType;
    }
    out["address"] = image.address;
    out["check"] = Common::CheckResultName(image.check);
    if (image.check == Common::CheckResult::FAILED) {
        out["firstDifference"] = image.firstDifference;
        out["differingBytes"] = image.differingBytes;
    }
    if (image.checkSeconds > 0.0) {
        out["checkSeconds"] = image.checkSeconds;
    }
    return out;
}

// What went wrong, as the failure was made: null for a success.
nlohmann::json FailureJson(const Common::Outcome& outcome)
{
    if (outcome.Ok()) {
        return nullptr;
    }
    nlohmann::json out = {{"kind", Common::OutcomeKindName(outcome.kind)}, {"message", outcome.Summary()}};
    if (!outcome.image.empty()) {
        out["image"] = outcome.image;
    }
    if (!outcome.hint.empty()) {
        out["hint"] = outcome.hint;
    }
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
    const int result = facts.outcome.code;
    std::string lastError = facts.outcome.Summary();
    if (lastError.empty() && result != BurnInfo::SUCCESS) {
        lastError = ResultMeaning(result);
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
        {"resultCode", result},
        {"resultMeaning", ResultMeaning(result)},
        {"cancelled", facts.cancelled},
        {"lastError", lastError},
        {"failure", FailureJson(facts.outcome)},
        {"images", images},
    };
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
