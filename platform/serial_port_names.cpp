#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/serial_port_list.h"

namespace SerialPortListSp {

std::string SerialPortSources::SystemRoot()
{
    const char* root = std::getenv("TARNWICK_SYSTEM_ROOT");
    return root != nullptr ? root : "";
}

// ttyS2 < ttyS10 < ttyUSB0, COM3 < COM10: the letters, then the number that
// ends the name.
bool NaturalLess(const std::string& a, const std::string& b)
{
    auto split = [](const std::string& s) {
        size_t digits = s.size();
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(s[digits - 1])) != 0) {
            --digits;
        }
        std::string number = s.substr(digits);
        number.erase(0, std::min(number.find_first_not_of('0'), number.size()));
        return std::make_pair(s.substr(0, digits), number);
    };
    auto [prefixA, numberA] = split(a);
    auto [prefixB, numberB] = split(b);
    if (prefixA != prefixB) {
        return prefixA < prefixB;
    }
    if (numberA.size() != numberB.size()) {
        return numberA.size() < numberB.size();
    }
    if (numberA != numberB) {
        return numberA < numberB;
    }
    return a < b;
}

std::vector<std::string> ListSerialPortPaths(const SerialPortSources& sources)
{
    std::vector<std::string> paths;
    for (const SerialPortEntry& entry : ListSerialPorts(sources)) {
        paths.push_back(entry.path);
    }
    return paths;
}

}  // namespace SerialPortListSp
