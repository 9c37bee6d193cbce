#ifndef TARNWICK_SETTINGS_BURN_CONTEXT_H
#define TARNWICK_SETTINGS_BURN_CONTEXT_H

// Every setting of one run, filled in the fixed order --config, burn.config,
// options, parameter check, chip property file, partition table, then owned
// and only read by the burn job.

#include <string>
#include <vector>

#include "common/fwpkg_format.h"
#include "common/reset_sequence.h"
#include "settings/burn_info.h"
#include "transport/line_settings.h"
#include "transport/port_name.h"

namespace tinyxml2 {
class XMLElement;
}

namespace BurnInfo {

// Installation paths, relative to the executable directory.
constexpr const char* BURN_CONFIG = "config/burn.config";
constexpr const char* CHIP_PROPERTIES = "ChipProperties/";
constexpr const char* LOADER_PATH = "loader/loader.bin";
constexpr const char* JTAG_PATH = "JTAG/";
constexpr const char* TEMP = "temp/";
constexpr int MAX_PATH_LENGTH = 1024;

constexpr const char* DEFAULT_RESET_AT_COMMAND = "at+rst\r\n";
constexpr int DEFAULT_BAUD_RATE = 115200;
constexpr int DEFAULT_BURN_INTERVAL = 10;

// A line rate as "-b" and baudRate give it: read like atoi, so "115200abc" is
// 115200; false for a text that reads as 0 (no leading digit, or "0").
bool ReadBaudRate(const std::string& text, int& rate);

// TypeSix partition table file type codes.
constexpr int FLASH_BIN_TYPE = Common::TYPESIX_FILE_FLASH_BIN;
constexpr int EMMC_BIN_TYPE = Common::TYPESIX_FILE_EMMC_BIN;

class BurnContext {
public:
    // Installation found from the running executable.
    BurnContext();
    // Installation at exeDirectory (ends with "/"); for embedding and tests.
    explicit BurnContext(const std::string& exeDirectory);

    // --- burn.config and the parameter check ---
    bool LoadBurnConfig();
    bool LoadTransportWay(const std::string& value);
    bool CheckBurnParameters() const;

    // --- chip property file ---
    bool LoadChipProperties();

    // --- partition table ---
    bool ParseBurnFile();
    std::string GetFilePath(int fileType) const;
    std::string GetShaFilePath(const std::string& name) const;

    // --- accessors ---
    std::string GetChipName() const { return m_chipName; }
    void SetChipName(const std::string& name) { m_chipName = name; }
    TransportWay GetTransportWay() const { return m_transportWay; }
    void SetTransportWay(TransportWay way) { m_transportWay = way; }
    std::string GetSerialPort() const { return m_port.text; }
    void SetSerialPort(const std::string& port) { m_port = ParsePortName(port); }
    // The port name as read once: its kind, and the server of a network name.
    const PortName& GetPortName() const { return m_port; }
    int GetBaudRate() const { return m_baudRate; }
    // Port, rate, stop bits and parity of the run, as one value for the line.
    LineSettings GetLineSettings() const;
    void SetBaudRate(int baudRate) { m_baudRate = baudRate; }
    int GetStopBit() const { return m_stopBit; }
    void SetStopBit(int stopBit) { m_stopBit = stopBit; }
    int GetParity() const { return m_parity; }
    void SetParity(int parity) { m_parity = parity; }

    std::string GetServerIp() const { return m_serverIp; }
    std::string GetIpAddr() const { return m_ipAddr; }
    std::string GetNetMask() const { return m_netMask; }
    std::string GetMacAddress() const { return m_macAddress; }
    std::string GetGatewayIp() const { return m_gatewayIp; }
    std::string GetUsbSerialNumber() const { return m_usbSerialNumber; }
    void SetUsbSerialNumber(const std::string& number) { m_usbSerialNumber = number; }
    int GetTftpPort() const { return m_tftpPort; }
    int GetUdpPort() const { return m_udpPort; }

    std::string GetFilePath() const { return m_filePath; }
    std::string GetBurnFile() const { return m_filePath; }
    void SetFilePath(const std::string& path) { m_filePath = path; }
    std::string GetImageBinPath() const { return m_imageBinPath; }
    void SetImageBinPath(const std::string& path) { m_imageBinPath = path; }
    std::string GetTouchBinPath() const { return m_touchBinPath; }
    void SetTouchBinPath(const std::string& path) { m_touchBinPath = path; }
    std::string GetVctmBinPath() const { return m_vctmBinPath; }
    void SetVctmBinPath(const std::string& path) { m_vctmBinPath = path; }
    std::string GetExePath() const { return m_exePath; }
    std::string GetJtagPath() const { return m_exePath + JTAG_PATH; }
    std::string GetLoaderPath() const { return m_loaderPath; }
    void SetLoaderPath(const std::string& path) { m_loaderPath = path; }
    std::string GetConfigPath() const { return m_configPath; }
    void SetConfigPath(const std::string& path) { m_configPath = path; }
    std::string GetProgrammerFilePath() const { return m_programmerFilePath; }
    std::string GetElfFilePath() const { return m_elfFilePath; }
    void SetElfFilePath(const std::string& path) { m_elfFilePath = path; }
    std::string GetTxtFilePath() const { return m_txtFilePath; }
    void SetTxtFilePath(const std::string& path) { m_txtFilePath = path; }

    int GetLoaderAddress() const { return m_loaderAddress; }
    void SetLoaderAddress(int address) { m_loaderAddress = address; }
    std::vector<PartitionItem> GetPartitionInfo() const { return m_partitionInfo; }
    void SetPartitionInfo(const std::vector<PartitionItem>& table) { m_partitionInfo = table; }
    PartitionItem GetSmallInfo() const { return m_smallInfo; }
    int GetChipType() const { return m_chipType; }
    void SetChipType(int chipType) { m_chipType = chipType; }
    int GetDepartment() const { return m_department; }

    DEBUG_BOARD GetDebugBoard() const { return m_debugBoard; }
    void SetDebugBoard(DEBUG_BOARD board) { m_debugBoard = board; }
    int GetFrequency() const { return m_frequency; }
    void SetFrequency(int frequency) { m_frequency = frequency; }
    int GetCoreIndex() const { return m_coreIndex; }
    void SetCoreIndex(int index) { m_coreIndex = index; }
    int GetAddress() const { return m_address; }
    void SetAddress(int address) { m_address = address; }
    int GetReadSize() const { return m_readSize; }
    void SetReadSize(int size) { m_readSize = size; }
    // Output file of --read; the package only provides the loader.
    std::string GetReadFile() const { return m_readFile; }
    void SetReadFile(const std::string& path) { m_readFile = path; }
    int GetEraseSize() const { return m_eraseSize; }
    void SetEraseSize(int size) { m_eraseSize = size; }
    // The socket flag and the serial server are the port name's: the flag is
    // set for rfc2217:// and socket:// names, the server only when the name is
    // well formed. Setting them rewrites the name (a socket made of a device
    // name becomes socket://HOST:PORT).
    bool IsSocket() const { return m_port.IsNetwork(); }
    void SetSocket(bool socket);
    std::string GetSerialServerIp() const { return m_port.host; }
    void SetSerialServerIp(const std::string& ip);
    int GetSerialServerPort() const { return m_port.port; }
    void SetSerialServerPort(int port);
    int GetReboot() const { return m_reboot; }
    void SetReboot(int reboot) { m_reboot = reboot; }
    int GetBurnCheck() const { return m_burnCheck; }
    void SetBurnCheck(int burnCheck) { m_burnCheck = burnCheck; }
    bool IsCompressFail() const { return m_isCompressFail; }
    void SetIsCompressFail(bool fail) { m_isCompressFail = fail; }
    void AddOnlyBurnName(const std::string& name) { m_onlyBurnNames.push_back(name); }
    std::vector<std::string> GetOnlyBurnNames() const { return m_onlyBurnNames; }
    int GetEraseMode() const { return m_eraseMode; }
    void SetEraseMode(int mode) { m_eraseMode = mode; }
    bool IsOnlyEraseAll() const { return m_isOnlyEraseAll; }
    void SetOnlyEraseAll(bool only) { m_isOnlyEraseAll = only; }
    bool IsSwitchAfterLoader() const { return m_isSwitchAfterLoader; }
    void SetSwitchAfterLoader(bool switchAfter) { m_isSwitchAfterLoader = switchAfter; }
    bool IsBeforeReset() const { return m_isBeforeReset; }
    void SetBeforeReset(bool beforeReset) { m_isBeforeReset = beforeReset; }
    int GetBurnInterval() const { return m_burnInterval; }
    void SetBurnInterval(int interval) { m_burnInterval = interval; }
    std::string GetResetAtCommand() const { return m_resetAtCommand; }
    // "-resetseq:" wins over the chip property file's ResetSequence.
    const Common::ResetSequence& GetResetSequence() const { return m_resetSequence; }
    void SetResetSequence(const Common::ResetSequence& sequence, bool fromOption)
    {
        m_resetSequence = sequence;
        m_isResetSequenceFromOption = fromOption;
    }
    bool IsResetSequenceFromOption() const { return m_isResetSequenceFromOption; }

    // Set by the openDebug key; process-wide, never reset.
    static bool IsOpenDebug() { return m_isOpenDebug; }

private:
    void InitExePath();
    // False when a number value cannot be read (the message is printed).
    bool LoadLocalConfig(const std::vector<std::string>& parts);
    void LoadBoardConfig(const std::vector<std::string>& parts);
    void LoadSocketConfig(const std::vector<std::string>& parts);
    // The scheme a server setter keeps: the name's own, or socket:// for a device name.
    PortKind ServerKind() const;

    bool InitBurnFilePath();
    bool ParseXmlFile();
    bool CheckXmlFormat(const tinyxml2::XMLElement* element) const;
    bool InitPartitionInfoByXml(const tinyxml2::XMLElement* element);
    bool InitPartitionRow(const tinyxml2::XMLElement* element, PartitionItem& row) const;
    bool InitPartitionLength(const tinyxml2::XMLElement* element, PartitionItem& row) const;
    void InitPartitionSelectFile(const tinyxml2::XMLElement* element, PartitionItem& row) const;
    void InitPartitionElfFile(const tinyxml2::XMLElement* element, PartitionItem& row) const;
    std::string ResolveTablePath(const std::string& value) const;
    bool ReinitPartitionInfo();

    std::string m_chipName;
    TransportWay m_transportWay = TransportWay::NOT_CHOSEN;
    PortName m_port;
    int m_baudRate = DEFAULT_BAUD_RATE;
    int m_stopBit = 0;
    int m_parity = 0;
    std::string m_serverIp;
    std::string m_ipAddr;
    std::string m_netMask;
    std::string m_macAddress;
    std::string m_gatewayIp;
    std::string m_usbSerialNumber;
    int m_tftpPort = 0;
    int m_udpPort = 0;
    std::string m_filePath;
    std::string m_burnFileDirectory;
    std::string m_imageBinPath;
    std::string m_touchBinPath;
    std::string m_vctmBinPath;
    std::string m_exePath;
    std::string m_loaderPath;
    std::string m_configPath;
    std::string m_programmerFilePath;
    std::string m_elfFilePath;
    std::string m_txtFilePath;
    int m_loaderAddress = 0;
    std::vector<PartitionItem> m_partitionInfo;
    PartitionItem m_smallInfo;
    int m_chipType = 0;
    int m_department = 0;
    bool m_xmlPathDefault = true;
    DEBUG_BOARD m_debugBoard = DEBUG_BOARD_NONE;
    int m_frequency = 0;
    int m_coreIndex = -1;
    int m_address = 0;
    int m_readSize = 0;
    std::string m_readFile;
    int m_eraseSize = 0;
    int m_reboot = 0;
    int m_burnCheck = 0;
    bool m_isCompressFail = false;
    std::vector<std::string> m_onlyBurnNames;
    int m_eraseMode = 0;
    bool m_isOnlyEraseAll = false;
    bool m_isSwitchAfterLoader = false;
    bool m_isBeforeReset = false;
    int m_burnInterval = DEFAULT_BURN_INTERVAL;
    std::string m_resetAtCommand = DEFAULT_RESET_AT_COMMAND;
    Common::ResetSequence m_resetSequence;
    bool m_isResetSequenceFromOption = false;

    static bool m_isOpenDebug;
};

} // namespace BurnInfo

#endif
