#include "support/sim_launcher.h"

#include <cstdlib>
#include <sstream>

#include "support/test_files.h"

namespace TestSupport {

namespace {

std::vector<std::string> SimArgv(const std::vector<std::string>& args)
{
    std::vector<std::string> argv{SimPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

uint64_t Number(const std::string& text)
{
    return std::strtoull(text.c_str(), nullptr, 10);
}

}  // namespace

std::string SimPath()
{
    return std::string(TARNWICK_BIN_DIR) + "/tarnwick-sim";
}

std::string Field(const std::string& object, const std::string& key)
{
    const std::string marker = "\"" + key + "\": ";
    size_t at = object.find(marker);
    if (at == std::string::npos) {
        return "";
    }
    at += marker.size();
    if (at < object.size() && object[at] == '"') {
        return object.substr(at + 1, object.find('"', at + 1) - at - 1);
    }
    return object.substr(at, object.find_first_of(",}", at) - at);
}

static SimReport ParseReport(const std::string& text)
{
    SimReport report;
    report.text = text;
    std::istringstream in(text);
    std::string line;
    std::string section;
    while (std::getline(in, line)) {
        if (line.rfind("  \"", 0) == 0) {
            section = line.substr(3, line.find('"', 3) - 3);
            if (section == "family") {
                report.family = Field(line, "family");
            }
            continue;
        }
        if (line.rfind("    ", 0) != 0) {
            continue;
        }
        std::string item = line.substr(4);
        if (!item.empty() && item.back() == ',') {
            item.pop_back();
        }
        const std::string unquoted = item.size() >= 2 && item[0] == '"' ? item.substr(1, item.size() - 2) : item;
        if (section == "images") {
            report.images.push_back(SimImage{Field(item, "kind"), Field(item, "name"), Number(Field(item, "address")),
                                             Number(Field(item, "length")), Number(Field(item, "regionSize")),
                                             Field(item, "sha256")});
        } else if (section == "baudChanges") {
            report.baudChanges.push_back(Number(item));
        } else if (section == "erases") {
            report.erases.push_back(item);
        } else if (section == "resets") {
            report.resets.push_back(unquoted);
        } else if (section == "protocolErrors") {
            report.protocolErrors.push_back(unquoted);
        } else if (section == "events") {
            report.events.push_back(unquoted);
        }
    }
    return report;
}

SimReport ReadSimReport(const std::string& path)
{
    const Bytes json = ReadFile(path);
    return ParseReport(std::string(json.begin(), json.end()));
}

bool SimReport::HasEvent(const std::string& part) const
{
    for (const std::string& e : events) {
        if (Contains(e, part)) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> SimReport::List(const std::string& key) const
{
    std::vector<std::string> items;
    const std::string head = "\"" + key + "\": [";
    size_t at = text.find(head);
    if (at == std::string::npos || text.compare(at + head.size(), 1, "]") == 0) {
        return items;
    }
    for (at = text.find('\n', at) + 1; at < text.size();) {
        const size_t end = text.find('\n', at);
        std::string line = text.substr(at, end - at);
        line.erase(0, line.find_first_not_of(' '));
        if (line.empty() || line[0] == ']') {
            break;
        }
        items.push_back(line.back() == ',' ? line.substr(0, line.size() - 1) : line);
        at = end + 1;
    }
    return items;
}

SimProcess::SimProcess(const std::vector<std::string>& args) : m_child(SimArgv(args))
{
    m_port = m_child.ReadLine(30000);
}

}  // namespace TestSupport
