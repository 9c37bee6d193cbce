#include "common/event_line.h"

#include <type_traits>

#include <nlohmann/json.hpp>

namespace EventLine {

namespace {

struct KindName {
    Event::Kind kind;
    const char* name;
};
constexpr KindName KIND_NAMES[] = {
    {Event::Kind::WAITING, "waiting"},       {Event::Kind::IMAGE_STARTED, "imageStarted"},
    {Event::Kind::PROGRESS, "progress"},     {Event::Kind::IMAGE_ENDED, "imageEnded"},
    {Event::Kind::CHECK_STARTED, "checkStarted"}, {Event::Kind::CHECK_ENDED, "checkEnded"},
    {Event::Kind::ERROR, "error"},
};

const char* NameOf(Event::Kind kind)
{
    for (const KindName& entry : KIND_NAMES) {
        if (entry.kind == kind) {
            return entry.name;
        }
    }
    return "unknown";
}

Event::Kind KindOf(const std::string& name)
{
    for (const KindName& entry : KIND_NAMES) {
        if (name == entry.name) {
            return entry.kind;
        }
    }
    return Event::Kind::UNKNOWN;
}

// A field of the expected JSON type, or the default: a line from another
// writer must not stop the reader.
template <typename T>
T Field(const nlohmann::json& json, const char* key, T fallback)
{
    const auto found = json.find(key);
    if (found == json.end()) {
        return fallback;
    }
    if constexpr (std::is_same_v<T, bool>) {
        return found->is_boolean() ? found->get<bool>() : fallback;
    } else if constexpr (std::is_same_v<T, std::string>) {
        return found->is_string() ? found->get<std::string>() : fallback;
    } else if constexpr (std::is_unsigned_v<T>) {
        return found->is_number_unsigned() ? found->get<T>() : fallback;
    } else {
        return found->is_number_integer() ? found->get<T>() : fallback;
    }
}

}  // namespace

std::string Format(const Event& event)
{
    nlohmann::json line = {{"event", NameOf(event.kind)}};
    switch (event.kind) {
        case Event::Kind::IMAGE_STARTED:
            line["name"] = event.name;
            line["type"] = event.type;
            line["bytes"] = event.bytes;
            break;
        case Event::Kind::PROGRESS:
            line["percent"] = event.percent;
            break;
        case Event::Kind::IMAGE_ENDED:
            line["ok"] = event.ok;
            line["result"] = event.result;
            break;
        case Event::Kind::CHECK_STARTED:
            line["name"] = event.name;
            line["bytes"] = event.bytes;
            break;
        case Event::Kind::CHECK_ENDED:
            line["name"] = event.name;
            line["result"] = Common::CheckResultName(event.check);
            if (event.differingBytes != 0) {
                line["firstDifference"] = event.firstDifference;
                line["differingBytes"] = event.differingBytes;
            }
            break;
        case Event::Kind::ERROR:
            line["text"] = event.text;
            line["kind"] = event.errorKind;
            break;
        case Event::Kind::WAITING:
        case Event::Kind::UNKNOWN:
            break;
    }
    // Names from a package need not be UTF-8.
    return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool Parse(const std::string& line, Event& event)
{
    const nlohmann::json json = nlohmann::json::parse(line, nullptr, false);
    if (!json.is_object()) {
        return false;
    }
    event = Event();
    event.kind = KindOf(Field<std::string>(json, "event", ""));
    event.name = Field<std::string>(json, "name", "");
    event.type = Field<uint32_t>(json, "type", 0u);
    event.bytes = Field<uint64_t>(json, "bytes", 0u);
    event.percent = Field<int>(json, "percent", 0);
    event.ok = Field<bool>(json, "ok", false);
    event.result = Field<std::string>(json, "result", "");
    if (event.kind == Event::Kind::CHECK_ENDED) {
        event.check = Common::CheckResultOfName(event.result);
    }
    event.firstDifference = Field<uint32_t>(json, "firstDifference", 0u);
    event.differingBytes = Field<uint64_t>(json, "differingBytes", 0u);
    event.text = Field<std::string>(json, "text", "");
    event.errorKind = Field<std::string>(json, "kind", "");
    return true;
}

}  // namespace EventLine
