#include "station/tool_events.h"

#include <algorithm>
#include <type_traits>

#include <nlohmann/json.hpp>

namespace Station {

namespace {

constexpr uint64_t FULL_PERCENT = 100;

// A field of the expected type, else the fallback: a malformed line never throws.
template <typename T>
T FieldOr(const nlohmann::json& object, const char* name, T fallback)
{
    const auto it = object.find(name);
    if (it == object.end()) {
        return fallback;
    }
    if constexpr (std::is_same_v<T, std::string>) {
        return it->is_string() ? it->get<std::string>() : fallback;
    } else if constexpr (std::is_same_v<T, bool>) {
        return it->is_boolean() ? it->get<bool>() : fallback;
    } else {
        return it->is_number_unsigned() ? it->get<T>() : fallback;
    }
}

}  // namespace

std::optional<ToolEvent> ParseToolEventLine(const std::string& line)
{
    const nlohmann::json json = nlohmann::json::parse(line, nullptr, false);
    if (!json.is_object()) {
        return std::nullopt;
    }
    const std::string kind = FieldOr(json, "event", std::string());
    ToolEvent event;
    if (kind == "waiting") {
        event.kind = ToolEvent::Kind::WAITING_FOR_BOARD;
    } else if (kind == "imageStarted") {
        event.kind = ToolEvent::Kind::IMAGE_STARTED;
        event.text = FieldOr(json, "name", std::string());
        event.imageType = FieldOr(json, "type", uint32_t{1});
        event.bytes = FieldOr(json, "bytes", uint64_t{0});
    } else if (kind == "progress") {
        event.kind = ToolEvent::Kind::IMAGE_PROGRESS;
        event.percent = static_cast<int>(std::min<uint64_t>(FieldOr(json, "percent", uint64_t{0}), FULL_PERCENT));
    } else if (kind == "imageEnded") {
        event.kind = ToolEvent::Kind::IMAGE_ENDED;
        event.ok = FieldOr(json, "ok", false);
    } else if (kind == "error") {
        event.kind = ToolEvent::Kind::ERROR;
        event.text = FieldOr(json, "text", std::string());
    } else {
        return std::nullopt;
    }
    return event;
}

}  // namespace Station
