#include "settings/burn_context.h"

#include <filesystem>
#include <cstdarg>
#include <cstdlib>
#include <fstream>

#include "common/common_util.h"
#include "common/console_output.h"
#include "common/text_format.h"
#include "platform/process_paths.h"

namespace BurnInfo {

bool BurnContext::m_isOpenDebug = false;

namespace {

// One line of a settings file; a CR before the LF belongs to the line break.
bool ReadSettingLine(std::istream& in, std::string& line)
{
    if (!std::getline(in, line)) {
        return false;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return true;
}

} // namespace

// A config number stored in 32 bits; a value that cannot be read fails the
// load with the key and the text, rather than becoming a silent 0.
bool BurnContext::ReadConfigNumber(const std::string& key, const std::string& value, int& target)
{
    if (!CommonUtil::TryConvertToInt32(value, target)) {
        Refuse("error: Invalid number for key %s in %s: \"%s\"\n", key.c_str(), m_files.configPath.c_str(),
               value.c_str());
        return false;
    }
    return true;
}

void BurnContext::Refuse(const char* format, ...) const
{
    va_list args;
    va_start(args, format);
    const std::string text = Common::FormatTextV(format, args);
    va_end(args);
    ConsoleOutput::Write(text);
    if (m_failure.Ok()) {
        m_failure = Common::Outcome::Failure(Common::OutcomeKind::SETTINGS, text);
    }
}

bool ReadBaudRate(const std::string& text, int& rate)
{
    const int value = std::atoi(text.c_str());
    if (value == 0) {
        return false;
    }
    rate = value;
    return true;
}

BurnContext::BurnContext()
{
    InitExePath();
    m_files.loaderPath = m_files.exePath + LOADER_PATH;
}

BurnContext::BurnContext(const std::string& exeDirectory)
{
    m_files.exePath = exeDirectory;
    m_files.loaderPath = m_files.exePath + LOADER_PATH;
}

void BurnContext::InitExePath()
{
    // Resolved through /proc/self/exe, so the installation is found from any
    // working directory and through a symlink on PATH.
    m_files.exePath = Platform::ExecutableDirectory();
}

bool BurnContext::LoadBurnConfig()
{
    if (m_files.configPath.empty()) {
        m_files.configPath = m_files.exePath + BURN_CONFIG;
    }
    std::ifstream in(std::filesystem::u8path(m_files.configPath), std::ios::in);
    if (!in.is_open()) {
        Refuse("error: Open burn.config failed!\n");
        return false;
    }
    std::string line;
    while (ReadSettingLine(in, line)) {
        // A "#" anywhere makes the whole line a comment.
        if (line.find('#') != std::string::npos) {
            continue;
        }
        std::vector<std::string> parts = CommonUtil::Split(line, '=');
        if (parts.size() != 2) {
            continue;
        }
        const std::string& key = parts[0];
        const std::string& value = parts[1];
        if (key == "chipName") {
            m_chip.chipName = value;
        } else if (key == "filePath") {
            m_package.filePath = value;
        } else if (key == "xmlPathDefault") {
            m_package.xmlPathDefault = value == "true";
        } else if (key == "mode") {
            if (!LoadTransportWay(value)) {
                return false;
            }
        } else if (key == "openDebug") {
            m_isOpenDebug = value == "true";
        } else {
            if (!LoadLocalConfig(parts)) {
                return false;
            }
            LoadBoardConfig(parts);
            LoadSocketConfig(parts);
        }
    }
    return true;
}

bool BurnContext::LoadLocalConfig(const std::vector<std::string>& parts)
{
    const std::string& key = parts[0];
    const std::string& value = parts[1];
    if (key == "serialPort") {
        SetSerialPort(value);
    } else if (key == "baudRate") {
        if (!ReadBaudRate(value, m_line.baudRate)) {
            Refuse("error: Invalid number for key %s in %s: \"%s\"\n", key.c_str(), m_files.configPath.c_str(),
                        value.c_str());
            return false;
        }
    } else if (key == "stopBit") {
        m_line.stopBit = std::atoi(value.c_str());
    } else if (key == "parity") {
        m_line.parity = std::atoi(value.c_str());
    } else if (key == "reset") {
        return ReadConfigNumber(key, value, m_reset.reboot);
    } else if (key == "burnCheck") {
        return ReadConfigNumber(key, value, m_read.burnCheck);
    }
    return true;
}

// Board keys have no consumer in this tool; the pairs are accepted so that
// config files shared with other tools of the family still load.
void BurnContext::LoadBoardConfig(const std::vector<std::string>& /*parts*/) {}

// The serial server comes from the port name, which LoadLocalConfig took.
LineSettings BurnContext::GetLineSettings() const
{
    LineSettings settings;
    settings.portName = m_port.text;
    settings.baudRate = static_cast<uint32_t>(m_line.baudRate);
    settings.stopBits = static_cast<uint32_t>(m_line.stopBit);
    settings.parity = static_cast<uint32_t>(m_line.parity);
    return settings;
}

// Socket keys have no consumer in this tool; the serial server comes from
// the port name, which LoadLocalConfig took.
void BurnContext::LoadSocketConfig(const std::vector<std::string>& /*parts*/) {}

PortKind BurnContext::ServerKind() const
{
    return m_port.IsNetwork() ? m_port.kind : PortKind::RAW_SOCKET;
}

void BurnContext::SetSocket(bool socket)
{
    if (socket == IsSocket()) {
        return;
    }
    if (socket) {
        m_port = MakeNetworkPortName(ServerKind(), m_port.host, m_port.port);
    } else {
        m_port = PortName();
    }
}

void BurnContext::SetSerialServerIp(const std::string& ip)
{
    m_port = MakeNetworkPortName(ServerKind(), ip, m_port.port);
}

void BurnContext::SetSerialServerPort(int port)
{
    m_port = MakeNetworkPortName(ServerKind(), m_port.host, port);
}

bool BurnContext::LoadTransportWay(const std::string& value)
{
    std::string mode = CommonUtil::Trim(value);
    if (mode == "serial") {
        m_line.transportWay = TransportWay::SERIAL;
        return true;
    }
    Refuse("error: Unknown transport: %s!\n", mode.c_str());
    return false;
}

bool BurnContext::CheckBurnParameters() const
{
    if (m_chip.chipName.empty()) {
        Refuse("error: Chip name not found!\n");
        return false;
    }
    if (m_package.filePath.empty()) {
        Refuse("error: Burn file not found!\n");
        return false;
    }
    if (m_line.transportWay == TransportWay::NOT_CHOSEN) {
        Refuse("error: Transport way not found!\n");
        return false;
    }
    // A network name can be judged here, before the operator resets the
    // board; device paths and COM names only the open can judge.
    if (!m_port.WellFormed()) {
        Refuse("error: %s\n", MalformedPortNameMessage(m_port).c_str());
        return false;
    }
    return true;
}

} // namespace BurnInfo
