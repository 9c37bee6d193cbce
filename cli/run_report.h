// The run report of "-report:PATH": a JSON document about one run of the
// tool, written when it ends, for whoever drives it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/outcome.h"
#include "jobs/run_record.h"

namespace RunReport {

struct RunFacts {
    std::string version;
    std::string operation;  // "burn", "erase" or "read"
    std::string chipName;
    int chipType = 0;
    std::string port;
    std::vector<uint32_t> lineRates;
    std::string startTime;  // UTC, ISO 8601
    double seconds = 0.0;
    Common::Outcome outcome;  // its code is the exit code
    bool cancelled = false;
    std::vector<Jobs::ImageRecord> images;
};

// What an exit code of the tool means, in a few words.
std::string ResultMeaning(int result);
// Now, as UTC "YYYY-MM-DDTHH:MM:SSZ".
std::string UtcNow();

nlohmann::json ToJson(const RunFacts& facts);

// Written whole under a temporary name beside path, then renamed over it, so
// a reader sees the old report or the new one, never half of one.
bool WriteAtomically(const std::string& path, const nlohmann::json& document);

}  // namespace RunReport
