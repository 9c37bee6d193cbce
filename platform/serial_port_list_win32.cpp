#include "platform/serial_port_list.h"

#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <map>
#include <set>

#include "platform/text_win32.h"

namespace SerialPortListSp {

namespace {

const wchar_t SERIAL_DEVICE_MAP[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr DWORD MAX_VALUE_NAME = 260;
constexpr DWORD MAX_VALUE_DATA = 256;

// Every port name the serial device map holds, each once.
std::vector<std::string> RegistryPortNames()
{
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SERIAL_DEVICE_MAP, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return names;
    }
    std::set<std::string> seen;
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[MAX_VALUE_NAME];
        DWORD nameLength = MAX_VALUE_NAME;
        wchar_t data[MAX_VALUE_DATA] = {};
        DWORD dataBytes = sizeof(data) - sizeof(wchar_t);
        DWORD type = 0;
        LONG status = RegEnumValueW(key, index, valueName, &nameLength, nullptr, &type,
                                    reinterpret_cast<BYTE*>(data), &dataBytes);
        if (status == ERROR_MORE_DATA) {
            continue;  // no port name is that long
        }
        if (status != ERROR_SUCCESS) {
            break;
        }
        if (type != REG_SZ) {
            continue;
        }
        std::string name = Platform::NarrowToUtf8(std::wstring(data, wcsnlen(data, dataBytes / sizeof(wchar_t))));
        if (!name.empty() && seen.insert(name).second) {
            names.push_back(name);
        }
    }
    RegCloseKey(key);
    return names;
}

// Port name -> friendly name of the present devices of the ports class.
std::map<std::string, std::string> FriendlyNames()
{
    std::map<std::string, std::string> names;
    HDEVINFO devices = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) {
        return names;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) {
            continue;
        }
        wchar_t port[MAX_VALUE_DATA] = {};
        DWORD portBytes = sizeof(port) - sizeof(wchar_t);
        DWORD type = 0;
        LONG status = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(port), &portBytes);
        RegCloseKey(key);
        wchar_t friendly[MAX_VALUE_DATA] = {};
        if (status != ERROR_SUCCESS || type != REG_SZ ||
            !SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_FRIENDLYNAME, nullptr,
                                               reinterpret_cast<BYTE*>(friendly), sizeof(friendly) - sizeof(wchar_t),
                                               nullptr)) {
            continue;
        }
        names[Platform::NarrowToUtf8(port)] = Platform::NarrowToUtf8(friendly);
    }
    SetupDiDestroyDeviceInfoList(devices);
    return names;
}

}  // namespace

std::vector<SerialPortEntry> ListSerialPorts(const SerialPortSources&)
{
    std::vector<std::string> names = RegistryPortNames();
    std::sort(names.begin(), names.end(), NaturalLess);
    const std::map<std::string, std::string> friendly = FriendlyNames();
    std::vector<SerialPortEntry> ports;
    for (const std::string& name : names) {
        auto known = friendly.find(name);
        SerialPortEntry port;
        port.path = name;
        port.description = known != friendly.end() ? known->second : std::string();
        ports.push_back(port);
    }
    return ports;
}

}  // namespace SerialPortListSp
