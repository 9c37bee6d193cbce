#include "sim/board.h"
#include "sim/sim_sha256.h"

#include <cstdio>
#include <fstream>

#include <nlohmann/json.hpp>

namespace Sim {

namespace {

using Json = nlohmann::ordered_json;

// The simulator's texts are byte strings; each byte becomes the code point of
// the same number, so names that are not UTF-8 still give a valid document.
Json Text(const std::string& bytes)
{
    std::string utf8;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            utf8 += c;
        } else {
            utf8 += static_cast<char>(0xC0 | (b >> 6));
            utf8 += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return Json(utf8);
}

std::string Dump(const Json& value)
{
    constexpr bool ENSURE_ASCII = true;
    return value.dump(-1, ' ', ENSURE_ASCII);
}

// An object on one line, "key": value separated by ", ", the layout readers
// of the report rely on (one list item a line).
std::string OneLine(const Json& object)
{
    std::string out = "{";
    for (auto it = object.begin(); it != object.end(); ++it) {
        out += (it == object.begin() ? "" : ", ") + Dump(Json(it.key())) + ": " + Dump(it.value());
    }
    return out + "}";
}

std::string Hex(const std::vector<uint8_t>& bytes)
{
    static const char DIGITS[] = "0123456789abcdef";
    std::string out;
    for (const uint8_t b : bytes) {
        out += DIGITS[b >> 4];
        out += DIGITS[b & 0x0F];
    }
    return out;
}

// A list with every item on a line of its own.
std::string List(const std::vector<Json>& items)
{
    if (items.empty()) {
        return "[]";
    }
    std::string out = "[\n";
    for (size_t i = 0; i < items.size(); ++i) {
        const std::string item = items[i].is_object() ? OneLine(items[i]) : Dump(items[i]);
        out += "    " + item + (i + 1 < items.size() ? ",\n" : "\n");
    }
    return out + "  ]";
}

template <typename T, typename F>
std::vector<Json> Items(const std::vector<T>& values, F toJson)
{
    std::vector<Json> items;
    for (const T& value : values) {
        items.push_back(toJson(value));
    }
    return items;
}

Json ImageJson(const ImageRecord& image)
{
    return Json{{"kind", Text(image.kind)},         {"name", Text(image.name)},
                {"address", image.address},         {"fileType", image.fileType},
                {"length", image.length},           {"regionSize", image.regionSize},
                {"sha256", Text(image.sha256)},     {"digestMatched", image.digestMatched}};
}

Json FaultJson(const FaultRecord& fault)
{
    Json where = Json::array();
    for (const std::string& place : fault.where) {
        where.push_back(Text(place));
    }
    return Json{{"fault", Text(fault.fault)}, {"which", Text(fault.which)}, {"fired", fault.fired}, {"where", where}};
}

std::string AnswerKeyName(int key)
{
    if (key == Tally::CLOSING_ACK) {
        return "closing";
    }
    if (key == Tally::NO_COMMAND) {
        return "none";
    }
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", key);
    return text;
}

Json TallyJson(const Tally& tally)
{
    Json answersTo = Json::object();
    for (const auto& [key, count] : tally.answersTo) {
        answersTo[AnswerKeyName(key)] = count;
    }
    return Json{{"answers", tally.answers},       {"answersTo", answersTo},   {"transfers", tally.transfers},
                {"dataBlocks", tally.dataBlocks}, {"received", tally.received}};
}

}  // namespace

size_t Report::AddFault(const std::string& fault, const std::string& which)
{
    m_faults.push_back({fault, which, 0, {}});
    return m_faults.size() - 1;
}

void Report::FaultFired(size_t index, const std::string& where)
{
    FaultRecord& fault = m_faults.at(index);
    ++fault.fired;
    if (fault.where.size() < FAULT_PLACES_KEPT) {
        fault.where.push_back(where);
    }
}

void Report::AddImage(const ImageRecord& image)
{
    m_images.push_back(image);
}

void Report::AddErase(const std::string& what, uint64_t address, uint64_t length)
{
    m_erases.push_back({what, address, length});
}

void Report::AddReset(const std::vector<uint8_t>& frame)
{
    m_resets.push_back(frame);
}

void Report::AddBaudChange(uint32_t baud)
{
    m_bauds.push_back(baud);
}

void Report::AddLineRate(uint32_t baud)
{
    m_lineRates.push_back(baud);
}

void Report::AddProtocolError(const std::string& text)
{
    m_errors.push_back(text);
}

void Report::AddEvent(const std::string& text)
{
    m_events.push_back(text);
}

std::string Report::ToJson(const Flash& flash) const
{
    const auto& bytes = flash.Bytes();
    const Json flashJson{{"size", bytes.size()}, {"sha256", Sha256::Hex(Sha256::Of(bytes.data(), bytes.size()))}};
    const auto asText = [](const std::string& t) { return Text(t); };
    std::string out = "{\n";
    out += "  \"family\": " + Dump(Text(m_family)) + ",\n";
    out += "  \"images\": " + List(Items(m_images, ImageJson)) + ",\n";
    out += "  \"erases\": " + List(Items(m_erases, [](const EraseRecord& e) {
                   return Json{{"what", Text(e.what)}, {"address", e.address}, {"length", e.length}};
               })) + ",\n";
    out += "  \"resets\": " + List(Items(m_resets, [](const std::vector<uint8_t>& f) { return Json(Hex(f)); })) + ",\n";
    out += "  \"baudChanges\": " + List(Items(m_bauds, [](uint32_t b) { return Json(b); })) + ",\n";
    out += "  \"lineRates\": " + List(Items(m_lineRates, [](uint32_t b) { return Json(b); })) + ",\n";
    out += "  \"protocolErrors\": " + List(Items(m_errors, asText)) + ",\n";
    out += "  \"events\": " + List(Items(m_events, asText)) + ",\n";
    out += "  \"faults\": " + List(Items(m_faults, FaultJson)) + ",\n";
    out += "  \"tally\": " + OneLine(TallyJson(m_tally)) + ",\n";
    out += "  \"flash\": " + OneLine(flashJson) + "\n";
    return out + "}\n";
}

bool Report::Save(const std::string& path, const Flash& flash) const
{
    // Written whole to a temporary name first, so a reader never sees half a report.
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) {
            return false;
        }
        out << ToJson(flash);
        out.close();
        if (out.fail()) {
            return false;
        }
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace Sim
