#include "station/history.h"

namespace Station {

bool IsPostgresTarget(const std::string& target)
{
    return target.rfind("postgresql://", 0) == 0 || target.rfind("postgres://", 0) == 0;
}

std::unique_ptr<HistoryStore> OpenHistory(const std::string& target)
{
    return IsPostgresTarget(target) ? OpenPostgresHistory(target) : OpenSqliteHistory(target);
}

std::string HistoryProblem(const std::string& target, const std::string& what)
{
    // A URI may carry a password: name the database by what follows the last "@".
    std::string shown = target;
    if (IsPostgresTarget(target)) {
        const size_t at = target.rfind('@');
        const size_t scheme = target.find("://") + 3;
        if (at != std::string::npos) {
            shown = target.substr(0, scheme) + target.substr(at + 1);
        }
    }
    return "history " + shown + ": " + what;
}

}  // namespace Station
