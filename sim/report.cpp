#include "sim/board.h"
#include "sim/sim_sha256.h"

#include <cstdio>
#include <fstream>

namespace Sim {

namespace {

// JSON text of any byte string: bytes outside printable ASCII are escaped as
// \u00XX, so names that are not UTF-8 still give a valid document.
std::string Quote(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b == '"' || b == '\\') {
            out += '\\';
            out += c;
        } else if (b < 0x20 || b >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", b);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
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

template <typename T, typename F>
std::string List(const std::vector<T>& items, F toJson)
{
    if (items.empty()) {
        return "[]";
    }
    std::string out = "[\n";
    for (size_t i = 0; i < items.size(); ++i) {
        out += "    " + toJson(items[i]) + (i + 1 < items.size() ? ",\n" : "\n");
    }
    return out + "  ]";
}

std::string ImageJson(const ImageRecord& image)
{
    return "{\"kind\": " + Quote(image.kind) + ", \"name\": " + Quote(image.name) +
           ", \"address\": " + std::to_string(image.address) + ", \"fileType\": " + std::to_string(image.fileType) +
           ", \"length\": " + std::to_string(image.length) + ", \"regionSize\": " + std::to_string(image.regionSize) +
           ", \"sha256\": " + Quote(image.sha256) + ", \"digestMatched\": " + std::to_string(image.digestMatched) + "}";
}

}  // namespace

void Report::AddImage(const ImageRecord& image)
{
    m_images.push_back(image);
}

void Report::AddErase(const std::string& what, uint64_t address, uint64_t length)
{
    m_erases.push_back("{\"what\": " + Quote(what) + ", \"address\": " + std::to_string(address) +
                       ", \"length\": " + std::to_string(length) + "}");
}

void Report::AddReset(const std::vector<uint8_t>& frame)
{
    m_resets.push_back(frame);
}

void Report::AddBaudChange(uint32_t baud)
{
    m_bauds.push_back(baud);
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
    const std::string flashDigest = Sha256::Hex(Sha256::Of(bytes.data(), bytes.size()));
    std::string out = "{\n";
    out += "  \"family\": " + Quote(m_family) + ",\n";
    out += "  \"images\": " + List(m_images, ImageJson) + ",\n";
    out += "  \"erases\": " + List(m_erases, [](const std::string& e) { return e; }) + ",\n";
    out += "  \"resets\": " + List(m_resets, [](const std::vector<uint8_t>& f) { return Quote(Hex(f)); }) + ",\n";
    out += "  \"baudChanges\": " + List(m_bauds, [](uint32_t b) { return std::to_string(b); }) + ",\n";
    out += "  \"protocolErrors\": " + List(m_errors, Quote) + ",\n";
    out += "  \"events\": " + List(m_events, Quote) + ",\n";
    out += "  \"flash\": {\"size\": " + std::to_string(bytes.size()) + ", \"sha256\": " + Quote(flashDigest) + "}\n";
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
