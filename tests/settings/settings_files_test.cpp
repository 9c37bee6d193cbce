// burn.config and chip property files read into a context: the values each
// key stores where the built tool shows none of them, and numbers that must
// not turn bad text into 0. Comment lines, line breaks, unknown modes and
// refusals the built tool prints are checked in tests/cli/installation_run_test.cpp.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "installation_dir.h"

namespace {

using BurnInfo::BurnContext;

struct FileCase {
    std::string content;
    bool loaded;
    std::string printed; // "$FILE" stands for the file's path
    std::function<void(const BurnContext&)> check;
};

class SettingsFiles : public InstallationDir {
protected:
    // Writes each content at relative and reads it with load on a fresh context.
    void RunCases(const std::vector<FileCase>& cases, const std::string& relative, bool (BurnContext::*load)(),
                  const std::string& chipName = "")
    {
        const std::string path = m_dir + relative;
        for (size_t i = 0; i < cases.size(); ++i) {
            const FileCase& c = cases[i];
            SCOPED_TRACE("case " + std::to_string(i) + ": " + c.content);
            Write(relative, c.content);
            auto context = NewContext();
            context->SetChipName(chipName);
            bool loaded = !c.loaded;
            std::string printed = CaptureOutput([&] { loaded = ((*context).*load)(); });
            EXPECT_EQ(loaded, c.loaded);
            std::string expected = c.printed;
            const size_t at = expected.find("$FILE");
            if (at != std::string::npos) {
                expected.replace(at, 5, path);
            }
            EXPECT_EQ(printed, expected);
            if (c.check) {
                c.check(*context);
            }
        }
    }
};

std::string Serial(const BurnContext& c)
{
    return c.GetSerialPort() + "@" + std::to_string(c.GetBaudRate()) + "/" + std::to_string(c.GetStopBit()) + "/" +
           std::to_string(c.GetParity());
}

TEST_F(SettingsFiles, BurnConfigKeysStoreTheirValues)
{
    const std::string badNumber = "error: Invalid number for key ";
    RunCases(
        {
            {"serialPort=/dev/ttyUSB3\nbaudRate=921600\nstopBit=2\nparity=1\nreset=0x10\nburnCheck=1k\n", true, "",
             [this](const BurnContext& c) {
                 EXPECT_EQ(Serial(c), "/dev/ttyUSB3@921600/2/1");
                 EXPECT_EQ(c.GetReboot(), 16);
                 EXPECT_EQ(c.GetBurnCheck(), 1024);
                 EXPECT_EQ(c.GetConfigPath(), m_dir + "config/burn.config");
             }},
            // Keys are exact; lines with two "=" or none are skipped.
            {"chipName=a=b\nchipName\nserialPort==/dev/x\n baudRate=9600\nchipName=kept\n", true, "",
             [](const BurnContext& c) { EXPECT_EQ(c.GetChipName() + "|" + Serial(c), "kept|@115200/0/0"); }},
            {"reset=8g\n", false, badNumber + "reset in $FILE: \"8g\"\n", nullptr},
            // The serial numbers are read like atoi.
            {"baudRate=fast\nstopBit=1x\nparity= 2\nserverIp=10.0.0.1\ntftpPort=69\n", true, "",
             [](const BurnContext& c) { EXPECT_EQ(Serial(c), "@0/1/2"); }},
            {"openDebug=TRUE\n", true, "", [](const BurnContext&) { EXPECT_FALSE(BurnContext::IsOpenDebug()); }},
            {"openDebug=true\n", true, "", [](const BurnContext&) { EXPECT_TRUE(BurnContext::IsOpenDebug()); }},
        },
        "config/burn.config", &BurnContext::LoadBurnConfig);
}

TEST_F(SettingsFiles, ChipPropertiesGiveTypeDepartmentLoaderAddressAndResetCommand)
{
    const std::string notFound = "error: ChipType not found in file $FILE\n";
    const std::string badNumber = "error: Invalid number for key ";
    RunCases(
        {
            {"ChipType=0x30004", true, "",
             [](const BurnContext& c) {
                 EXPECT_EQ(c.GetChipType(), 0x30004);
                 EXPECT_EQ(c.GetDepartment(), BurnInfo::CONNECTION_CHIP);
                 EXPECT_EQ(c.GetLoaderAddress(), 0);
                 EXPECT_EQ(c.GetResetAtCommand(), "at+rst\r\n");
             }},
            {"ChipType=0x30002\r\nLoadBurnAddress=0x20000000\r\nResetAtCommand=AT+RESET\r\n", true, "",
             [](const BurnContext& c) {
                 EXPECT_EQ(c.GetLoaderAddress(), 0x20000000);
                 EXPECT_EQ(c.GetResetAtCommand(), "AT+RESET\r\n");
             }},
            {"ChipType=0x7F0A0000\n", true, "", [](const BurnContext& c) { EXPECT_EQ(c.GetDepartment(), 0x0A); }},
            {"ChipType=0x30004\nLoadBurnAddress=16\nChipType=0x30005\nLoadBurnAddress=64k\n", true, "",
             [](const BurnContext& c) {
                 EXPECT_EQ(c.GetChipType(), 0x30005) << "the last occurrence wins";
                 EXPECT_EQ(c.GetLoaderAddress(), 65536);
             }},
            {"# the family's own notes\nName=vb27\nChipType=0x30004=1\nChipType=0x30005\n", true, "",
             [](const BurnContext& c) { EXPECT_EQ(c.GetChipType(), 0x30005); }},
            // Zero or empty: not found (missing, a blank before "=" and a word for
            // a number are in the built-tool table).
            {"ChipType=0\n", false, notFound, nullptr},
            {"", false, notFound, nullptr},
            {"ChipType=0xffffffff\n", false, badNumber + "ChipType in file $FILE: \"0xffffffff\"\n", nullptr},
            {"ChipType=0x30004\nLoadBurnAddress=4g\n", false, badNumber + "LoadBurnAddress in file $FILE: \"4g\"\n",
             nullptr},
        },
        "ChipProperties/chip.txt", &BurnContext::LoadChipProperties, "chip");
}

} // namespace
