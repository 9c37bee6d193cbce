#include <tinyxml2.h>

#include <cstdlib>

#include "common/common_util.h"
#include "settings/burn_context.h"

namespace BurnInfo {

namespace {

constexpr const char* DEFAULT_PROGRAMMER_FILE = "programmer.bin";
constexpr int64_t FLASH_ONE_PAGE_SIZE = 65536;

// TypeSix file type codes of the table: partners joined to their rows.
constexpr int TYPE_PARTNER_OF_ZERO = static_cast<int>(Common::TYPESIX_IMAGE_SSB_DIGEST);
constexpr int TYPE_SMALL_BOOT = static_cast<int>(Common::TYPESIX_IMAGE_SMALL_SSB);
constexpr int TYPE_PARTNER_OF_SMALL_BOOT = static_cast<int>(Common::TYPESIX_IMAGE_SMALL_SSB_DIGEST);
constexpr int TYPE_SHA256_FILE = static_cast<int>(Common::TYPESIX_IMAGE_DIGEST);

// A table code that the serial protocol knows by another file type, as the
// chip object's whole-package path reads it; false for a code without one.
bool FoldFileType(int tableCode, int& protocolType)
{
    return tableCode >= 0 && Common::TypeSixChipFileType(static_cast<uint32_t>(tableCode), protocolType);
}

bool ReadsTypeSixFileTypes(int chipType)
{
    return Common::FamilyOf(chipType).images == Common::ImageReading::TYPESIX;
}

// Text of an attribute, or null when the element does not carry it.
const char* Attribute(const tinyxml2::XMLElement* element, const char* name)
{
    const tinyxml2::XMLAttribute* attribute = element->FindAttribute(name);
    return attribute == nullptr ? nullptr : attribute->Value();
}

bool HasValue(const char* text)
{
    return text != nullptr && text[0] != '\0';
}

// Part of path after its last separator ("\\" first, then "/").
std::string BaseName(const std::string& path)
{
    size_t separator = path.find_last_of('\\');
    if (separator == std::string::npos) {
        separator = path.find_last_of('/');
    }
    return separator == std::string::npos ? path : path.substr(separator + 1);
}


} // namespace

// A numeric attribute that cannot be read ends the table with a message naming
// the partition, the attribute and the text, never as a silent 0.
bool BurnContext::ReadNumberAttribute(const std::string& partition, const char* name, const char* text,
                                      int64_t& value) const
{
    if (!CommonUtil::TryConvertToNumber(text, value)) {
        Refuse("error: Partition %s has an invalid %s value: \"%s\"\n", partition.c_str(), name, text);
        return false;
    }
    return true;
}

bool BurnContext::ParseBurnFile()
{
    // Packages and single images have no table; the test is case-sensitive.
    if (m_package.filePath.find(".xml") == std::string::npos) {
        return true;
    }
    if (!InitBurnFilePath()) {
        return false;
    }
    if (!m_package.xmlPathDefault) {
        m_package.burnFileDirectory.clear();
    }
    if (!ParseXmlFile()) {
        return false;
    }
    if (m_package.partitionInfo.empty()) {
        Refuse("error: Partition information is empty!\n");
        return false;
    }
    return true;
}

bool BurnContext::InitBurnFilePath()
{
    size_t separator = m_package.filePath.find_last_of('\\');
    if (separator == std::string::npos) {
        separator = m_package.filePath.find_last_of('/');
    }
    if (separator == std::string::npos) {
        Refuse("error: Invalid file path: %s\n", m_package.filePath.c_str());
        return false;
    }
    m_package.burnFileDirectory = m_package.filePath.substr(0, separator + 1);
    return true;
}

bool BurnContext::ParseXmlFile()
{
    tinyxml2::XMLDocument document;
    if (document.LoadFile(m_package.filePath.c_str()) != tinyxml2::XML_SUCCESS) {
        Refuse("error: Failed to load xml file: %s.\n", m_package.filePath.c_str());
        Refuse("Maybe this is not int XML format, or used by other application.\n");
        return false;
    }
    const tinyxml2::XMLElement* root = document.RootElement();
    if (root == nullptr) {
        Refuse("error: RootElement failed.\n");
        return false;
    }

    const char* programmer = Attribute(root, "ProgrammerFile");
    std::string programmerFile = HasValue(programmer) ? programmer : DEFAULT_PROGRAMMER_FILE;
    m_package.programmerFilePath =
        CommonUtil::FileIsExists(programmerFile) ? programmerFile : m_package.burnFileDirectory + programmerFile;

    const tinyxml2::XMLElement* first = root->FirstChildElement();
    if (first == nullptr) {
        Refuse("error: FirstChildElement failed.\n");
        return false;
    }
    if (!InitPartitionInfoByXml(first)) {
        return false;
    }
    if (ReadsTypeSixFileTypes(m_chip.chipType)) {
        return ReinitPartitionInfo();
    }
    return true;
}

bool BurnContext::CheckXmlFormat(const tinyxml2::XMLElement* element) const
{
    struct Required {
        const char* name;
        const char* message;
    };
    static const Required REQUIRED[] = {
        {"Sel", "error: Xml format error, not find Sel or Sel value is empty.\n"},
        {"PartitionName", "error: Xml format error, not find PartitionName or PartitionName value is empty.\n"},
        {"FileSystem", "error: Xml format error, not find FileSystem or FileSystem value is empty.\n"},
        {"FlashType", "error: Xml format error, not find FlashType or FlashType is empty.\n"},
        {"Start", "error: Xml format error, not find Start or Start value is empty.\n"},
        {"Length", "error: Xml format error, not find Length or Length value is empty.\n"},
    };
    for (const Required& required : REQUIRED) {
        if (!HasValue(Attribute(element, required.name))) {
            Refuse("%s", required.message);
            return false;
        }
    }
    // SelectFile may be empty: a row without an image.
    if (Attribute(element, "SelectFile") == nullptr) {
        Refuse("error: Xml format error, not find SelectFile.\n");
        return false;
    }
    return true;
}

bool BurnContext::InitPartitionInfoByXml(const tinyxml2::XMLElement* element)
{
    // Row after row in document order; a loop rather than recursion so that a
    // long table cannot exhaust the stack. Rows read before a failure stay.
    for (; element != nullptr; element = element->NextSiblingElement()) {
        PartitionItem row;
        if (!InitPartitionRow(element, row)) {
            return false;
        }
        m_package.partitionInfo.push_back(row);
    }
    return true;
}

bool BurnContext::InitPartitionRow(const tinyxml2::XMLElement* element, PartitionItem& row) const
{
    if (!CheckXmlFormat(element)) {
        return false;
    }
    const int sel = std::atoi(Attribute(element, "Sel"));
    if (sel != 0 && sel != 1) {
        Refuse("error: Sel value can only be 1 or 0!\n");
        return false;
    }
    row.sel = sel == 1;
    row.partitionName = Attribute(element, "PartitionName");
    row.fileSystem = Attribute(element, "FileSystem");

    if (ReadsTypeSixFileTypes(m_chip.chipType)) {
        const char* fileType = Attribute(element, "FileType");
        if (!HasValue(fileType)) {
            Refuse("error: Xml format error, not find FileType or FileType value is empty.\n");
            return false;
        }
        row.fileType = std::atoi(fileType);
    }
    row.flashType = Attribute(element, "FlashType");

    const char* deviceId = Attribute(element, "DeviceId");
    if (deviceId != nullptr) {
        if (deviceId[0] == '\0') {
            Refuse("error: Xml format error, not find DeviceId or DeviceId is empty.\n");
            return false;
        }
        row.deviceId = std::atoi(deviceId);
    }

    if (!ReadNumberAttribute(row.partitionName, "Start", Attribute(element, "Start"), row.start)) {
        return false;
    }
    if (!InitPartitionLength(element, row)) {
        return false;
    }
    InitPartitionSelectFile(element, row);
    InitPartitionElfFile(element, row);

    const char* fileSize = Attribute(element, "FileSize");
    if (fileSize != nullptr) {
        return ReadNumberAttribute(row.partitionName, "FileSize", fileSize, row.fileSize);
    }
    row.fileSize = CommonUtil::GetFileLen(row.selectFile);
    return true;
}

bool BurnContext::InitPartitionLength(const tinyxml2::XMLElement* element, PartitionItem& row) const
{
    const std::string text = Attribute(element, "Length");
    if (text == "-") {
        row.length = 0;
        return true;
    }
    if (!ReadNumberAttribute(row.partitionName, "Length", text.c_str(), row.length)) {
        return false;
    }
    if (row.length == 0) {
        Refuse("Partition: %s length is 0.\n", row.partitionName.c_str());
        return false;
    }
    if (m_chip.department == WING_CHIP && (row.length & (FLASH_ONE_PAGE_SIZE - 1)) != 0) {
        Refuse("error: Partition %s have invalid xml length: %s, must be a multiple of 64k\n",
                    row.partitionName.c_str(), text.c_str());
        return false;
    }
    return true;
}

// An existing path as written, else the same text under the table's directory,
// else empty: a missing image is not an error while the table is read.
std::string BurnContext::ResolveTablePath(const std::string& value) const
{
    if (CommonUtil::FileIsExists(value)) {
        return value;
    }
    std::string underTable = m_package.burnFileDirectory + value;
    return CommonUtil::FileIsExists(underTable) ? underTable : std::string();
}

void BurnContext::InitPartitionSelectFile(const tinyxml2::XMLElement* element, PartitionItem& row) const
{
    const std::string value = Attribute(element, "SelectFile");
    if (value.empty()) {
        return;
    }
    row.selectFile = ResolveTablePath(value);
    if (!row.selectFile.empty()) {
        row.fileName = BaseName(row.selectFile);
    }
}

void BurnContext::InitPartitionElfFile(const tinyxml2::XMLElement* element, PartitionItem& row) const
{
    const char* value = Attribute(element, "ElfFile");
    if (!HasValue(value)) {
        return;
    }
    row.elfFile = ResolveTablePath(value);
}

bool BurnContext::ReinitPartitionInfo()
{
    std::vector<PartitionItem> rewritten;
    for (const PartitionItem& item : m_package.partitionInfo) {
        PartitionItem row = item;
        switch (row.fileType) {
            case 0:
                row.selectFile += "|" + GetFilePath(TYPE_PARTNER_OF_ZERO);
                rewritten.push_back(row);
                break;
            case TYPE_SMALL_BOOT:
                row.selectFile += "|" + GetFilePath(TYPE_PARTNER_OF_SMALL_BOOT);
                m_package.smallInfo = row;
                break;
            case FLASH_BIN_TYPE:
            case EMMC_BIN_TYPE: {
                std::string shaFile = GetShaFilePath(row.partitionName);
                if (shaFile.empty()) {
                    Refuse("error: Not find sha256.bin file!\n");
                    return false;
                }
                row.selectFile += "|" + shaFile;
                rewritten.push_back(row);
                break;
            }
            default:
                // Partner files and codes without meaning here are dropped.
                if (FoldFileType(row.fileType, row.fileType)) {
                    rewritten.push_back(row);
                }
                break;
        }
    }
    m_package.partitionInfo = rewritten;
    return true;
}

std::string BurnContext::GetFilePath(int fileType) const
{
    for (const PartitionItem& item : m_package.partitionInfo) {
        if (item.fileType == fileType) {
            return item.selectFile;
        }
    }
    return std::string();
}

std::string BurnContext::GetShaFilePath(const std::string& name) const
{
    for (const PartitionItem& item : m_package.partitionInfo) {
        if (item.fileType == TYPE_SHA256_FILE && name.find(item.partitionName) != std::string::npos) {
            return item.selectFile;
        }
    }
    return std::string();
}

} // namespace BurnInfo
