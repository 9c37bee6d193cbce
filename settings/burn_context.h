#ifndef TARNWICK_SETTINGS_BURN_CONTEXT_H
#define TARNWICK_SETTINGS_BURN_CONTEXT_H

// Every setting of one run, filled in the fixed order --config, burn.config,
// options, parameter check, chip property file, partition table, then owned
// and only read by the burn job.

#include <string>
#include <vector>

#include "common/chip_family.h"
#include "common/outcome.h"
#include "common/printf_format.h"
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
// Without "-b" or baudRate the line stays at the boot rate.
constexpr int DEFAULT_BAUD_RATE = static_cast<int>(Common::BOOT_BAUD_RATE);
constexpr int DEFAULT_BURN_INTERVAL = 10;

// A line rate as "-b" and baudRate give it: read like atoi, so "9600abc" is
// 9600; false for a text that reads as 0 (no leading digit, or "0").
bool ReadBaudRate(const std::string& text, int& rate);

// TypeSix partition table file type codes.
constexpr int FLASH_BIN_TYPE = Common::TYPESIX_FILE_FLASH_BIN;
constexpr int EMMC_BIN_TYPE = Common::TYPESIX_FILE_EMMC_BIN;

// The parts of one run's settings, each a plain value.
// The chip the run serves.
struct ChipChoice {
    std::string chipName;
    int chipType = 0;
    int department = 0;
};

// The line to the board as the settings give it (the port name apart).
struct LineChoice {
    TransportWay transportWay = TransportWay::NOT_CHOSEN;
    int baudRate = DEFAULT_BAUD_RATE;
    int stopBit = 0;
    int parity = 0;
};

// What is burned: the burn file, what was read from it, what is selected.
struct PackageChoice {
    std::string filePath;
    std::string burnFileDirectory;
    bool xmlPathDefault = true;
    std::vector<PartitionItem> partitionInfo;
    PartitionItem smallInfo;
    std::string programmerFilePath;
    std::vector<std::string> onlyBurnNames;
};

// The installation and the other files a run may name.
struct RunFiles {
    std::string exePath;
    std::string loaderPath;
    int loaderAddress = 0;
    std::string configPath;
    std::string elfFilePath;
    std::string txtFilePath;
    std::string imageBinPath;
    std::string touchBinPath;
    std::string vctmBinPath;
};

// How the board is brought into its boot ROM, and restarted afterwards.
struct ResetChoice {
    int reboot = 0;
    std::string resetAtCommand = DEFAULT_RESET_AT_COMMAND;
    Common::ResetSequence resetSequence;
    bool isResetSequenceFromOption = false;
    bool isBeforeReset = false;
    bool isSwitchAfterLoader = false;
    int burnInterval = DEFAULT_BURN_INTERVAL;
};

// What a read, an erase and a burn check cover.
struct ReadChoice {
    int address = 0;
    int readSize = 0;
    std::string readFile;  // output of --read; the package only provides the loader
    int eraseSize = 0;
    int eraseMode = 0;
    bool isOnlyEraseAll = false;
    int burnCheck = 0;
};

// Settings with accessors but neither a source nor a consumer in this tool;
// config files shared with other tools of the family still load.
struct OtherSettings {
    std::string serverIp;
    std::string ipAddr;
    std::string netMask;
    std::string macAddress;
    std::string gatewayIp;
    std::string usbSerialNumber;
    int tftpPort = 0;
    int udpPort = 0;
    DEBUG_BOARD debugBoard = DEBUG_BOARD_NONE;
    int frequency = 0;
    int coreIndex = -1;
    bool isCompressFail = false;
};

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
    std::string GetChipName() const { return m_chip.chipName; }
    void SetChipName(const std::string& name) { m_chip.chipName = name; }
    TransportWay GetTransportWay() const { return m_line.transportWay; }
    void SetTransportWay(TransportWay way) { m_line.transportWay = way; }
    std::string GetSerialPort() const { return m_port.text; }
    void SetSerialPort(const std::string& port) { m_port = ParsePortName(port); }
    // The port name as read once: its kind, and the server of a network name.
    const PortName& GetPortName() const { return m_port; }
    int GetBaudRate() const { return m_line.baudRate; }
    // Port, rate, stop bits and parity of the run, as one value for the line.
    LineSettings GetLineSettings() const;
    void SetBaudRate(int baudRate) { m_line.baudRate = baudRate; }
    int GetStopBit() const { return m_line.stopBit; }
    void SetStopBit(int stopBit) { m_line.stopBit = stopBit; }
    int GetParity() const { return m_line.parity; }
    void SetParity(int parity) { m_line.parity = parity; }

    std::string GetServerIp() const { return m_other.serverIp; }
    std::string GetIpAddr() const { return m_other.ipAddr; }
    std::string GetNetMask() const { return m_other.netMask; }
    std::string GetMacAddress() const { return m_other.macAddress; }
    std::string GetGatewayIp() const { return m_other.gatewayIp; }
    std::string GetUsbSerialNumber() const { return m_other.usbSerialNumber; }
    void SetUsbSerialNumber(const std::string& number) { m_other.usbSerialNumber = number; }
    int GetTftpPort() const { return m_other.tftpPort; }
    int GetUdpPort() const { return m_other.udpPort; }

    std::string GetFilePath() const { return m_package.filePath; }
    std::string GetBurnFile() const { return m_package.filePath; }
    void SetFilePath(const std::string& path) { m_package.filePath = path; }
    std::string GetImageBinPath() const { return m_files.imageBinPath; }
    void SetImageBinPath(const std::string& path) { m_files.imageBinPath = path; }
    std::string GetTouchBinPath() const { return m_files.touchBinPath; }
    void SetTouchBinPath(const std::string& path) { m_files.touchBinPath = path; }
    std::string GetVctmBinPath() const { return m_files.vctmBinPath; }
    void SetVctmBinPath(const std::string& path) { m_files.vctmBinPath = path; }
    std::string GetExePath() const { return m_files.exePath; }
    std::string GetJtagPath() const { return m_files.exePath + JTAG_PATH; }
    std::string GetLoaderPath() const { return m_files.loaderPath; }
    void SetLoaderPath(const std::string& path) { m_files.loaderPath = path; }
    std::string GetConfigPath() const { return m_files.configPath; }
    void SetConfigPath(const std::string& path) { m_files.configPath = path; }
    std::string GetProgrammerFilePath() const { return m_package.programmerFilePath; }
    std::string GetElfFilePath() const { return m_files.elfFilePath; }
    void SetElfFilePath(const std::string& path) { m_files.elfFilePath = path; }
    std::string GetTxtFilePath() const { return m_files.txtFilePath; }
    void SetTxtFilePath(const std::string& path) { m_files.txtFilePath = path; }

    int GetLoaderAddress() const { return m_files.loaderAddress; }
    void SetLoaderAddress(int address) { m_files.loaderAddress = address; }
    std::vector<PartitionItem> GetPartitionInfo() const { return m_package.partitionInfo; }
    void SetPartitionInfo(const std::vector<PartitionItem>& table) { m_package.partitionInfo = table; }
    PartitionItem GetSmallInfo() const { return m_package.smallInfo; }
    int GetChipType() const { return m_chip.chipType; }
    void SetChipType(int chipType) { m_chip.chipType = chipType; }
    int GetDepartment() const { return m_chip.department; }

    DEBUG_BOARD GetDebugBoard() const { return m_other.debugBoard; }
    void SetDebugBoard(DEBUG_BOARD board) { m_other.debugBoard = board; }
    int GetFrequency() const { return m_other.frequency; }
    void SetFrequency(int frequency) { m_other.frequency = frequency; }
    int GetCoreIndex() const { return m_other.coreIndex; }
    void SetCoreIndex(int index) { m_other.coreIndex = index; }
    int GetAddress() const { return m_read.address; }
    void SetAddress(int address) { m_read.address = address; }
    int GetReadSize() const { return m_read.readSize; }
    void SetReadSize(int size) { m_read.readSize = size; }
    // Output file of --read; the package only provides the loader.
    std::string GetReadFile() const { return m_read.readFile; }
    void SetReadFile(const std::string& path) { m_read.readFile = path; }
    int GetEraseSize() const { return m_read.eraseSize; }
    void SetEraseSize(int size) { m_read.eraseSize = size; }
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
    int GetReboot() const { return m_reset.reboot; }
    void SetReboot(int reboot) { m_reset.reboot = reboot; }
    int GetBurnCheck() const { return m_read.burnCheck; }
    void SetBurnCheck(int burnCheck) { m_read.burnCheck = burnCheck; }
    bool IsCompressFail() const { return m_other.isCompressFail; }
    void SetIsCompressFail(bool fail) { m_other.isCompressFail = fail; }
    void AddOnlyBurnName(const std::string& name) { m_package.onlyBurnNames.push_back(name); }
    std::vector<std::string> GetOnlyBurnNames() const { return m_package.onlyBurnNames; }
    int GetEraseMode() const { return m_read.eraseMode; }
    void SetEraseMode(int mode) { m_read.eraseMode = mode; }
    bool IsOnlyEraseAll() const { return m_read.isOnlyEraseAll; }
    void SetOnlyEraseAll(bool only) { m_read.isOnlyEraseAll = only; }
    bool IsSwitchAfterLoader() const { return m_reset.isSwitchAfterLoader; }
    void SetSwitchAfterLoader(bool switchAfter) { m_reset.isSwitchAfterLoader = switchAfter; }
    bool IsBeforeReset() const { return m_reset.isBeforeReset; }
    void SetBeforeReset(bool beforeReset) { m_reset.isBeforeReset = beforeReset; }
    int GetBurnInterval() const { return m_reset.burnInterval; }
    void SetBurnInterval(int interval) { m_reset.burnInterval = interval; }
    std::string GetResetAtCommand() const { return m_reset.resetAtCommand; }
    // "-resetseq:" wins over the chip property file's ResetSequence.
    const Common::ResetSequence& GetResetSequence() const { return m_reset.resetSequence; }
    void SetResetSequence(const Common::ResetSequence& sequence, bool fromOption)
    {
        m_reset.resetSequence = sequence;
        m_reset.isResetSequenceFromOption = fromOption;
    }
    bool IsResetSequenceFromOption() const { return m_reset.isResetSequenceFromOption; }

    // Set by the openDebug key; process-wide, never reset.
    static bool IsOpenDebug() { return m_isOpenDebug; }

    // The first refusal of the settings, as it was printed; success while there is none.
    const Common::Outcome& GetFailure() const { return m_failure; }
    // Prints a refusal of the settings and keeps the first one.
    void Refuse(const char* format, ...) const TARNWICK_PRINTF_FORMAT(2, 3);

private:
    void InitExePath();
    bool ReadConfigNumber(const std::string& key, const std::string& value, int& target);
    bool ReadNumberAttribute(const std::string& partition, const char* name, const char* text, int64_t& value) const;
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

    ChipChoice m_chip;
    LineChoice m_line;
    PortName m_port;
    PackageChoice m_package;
    RunFiles m_files;
    ResetChoice m_reset;
    ReadChoice m_read;
    OtherSettings m_other;
    mutable Common::Outcome m_failure;

    static bool m_isOpenDebug;
};

} // namespace BurnInfo

#endif
