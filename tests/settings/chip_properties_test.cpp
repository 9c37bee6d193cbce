// Chip property files: chip type and department, loader address, reset
// command; exact keys, and a chip type that must be present and readable.

#include <gtest/gtest.h>

#include "installation_dir.h"

namespace {

using BurnInfo::BurnContext;

class ChipPropertiesTest : public InstallationDir {
protected:
    std::string Load(const std::string& content, bool expected = true, const std::string& chip = "chip")
    {
        Write("ChipProperties/" + chip + ".txt", content);
        m_context = NewContext();
        m_context->SetChipName(chip);
        bool loaded = false;
        std::string output = CaptureOutput([&] { loaded = m_context->LoadChipProperties(); });
        EXPECT_EQ(loaded, expected) << output;
        return output;
    }

    std::string PathOf(const std::string& chip) const { return m_dir + "ChipProperties/" + chip + ".txt"; }

    std::unique_ptr<BurnContext> m_context;
};

TEST_F(ChipPropertiesTest, ChipTypeAloneKeepsLoaderAddressAndResetDefaults)
{
    EXPECT_EQ(Load("ChipType=0x30004"), "");
    EXPECT_EQ(m_context->GetChipType(), 0x30004);
    EXPECT_EQ(m_context->GetDepartment(), BurnInfo::CONNECTION_CHIP);
    EXPECT_EQ(m_context->GetLoaderAddress(), 0);
    EXPECT_EQ(m_context->GetResetAtCommand(), "at+rst\r\n");
}

TEST_F(ChipPropertiesTest, DecimalChipTypeIsTheSameChip)
{
    Load("ChipType=196612\n");
    EXPECT_EQ(m_context->GetChipType(), 0x30004);
    EXPECT_EQ(m_context->GetDepartment(), 3);
}

TEST_F(ChipPropertiesTest, AllThreeKeys)
{
    Load("ChipType=0x30002\r\nLoadBurnAddress=0x20000000\r\nResetAtCommand=AT+RESET\r\n");
    EXPECT_EQ(m_context->GetChipType(), 0x30002);
    EXPECT_EQ(m_context->GetLoaderAddress(), 0x20000000);
    EXPECT_EQ(m_context->GetResetAtCommand(), "AT+RESET\r\n");
}

TEST_F(ChipPropertiesTest, DepartmentIsBitsSixteenToTwentyThree)
{
    Load("ChipType=0x60001\n");
    EXPECT_EQ(m_context->GetDepartment(), BurnInfo::WING_CHIP);
    Load("ChipType=0x7F0A0000\n");
    EXPECT_EQ(m_context->GetDepartment(), 0x0A);
}

TEST_F(ChipPropertiesTest, LastOccurrenceOfAKeyWins)
{
    Load("ChipType=0x30004\nLoadBurnAddress=16\nChipType=0x30005\nLoadBurnAddress=64k\n");
    EXPECT_EQ(m_context->GetChipType(), 0x30005);
    EXPECT_EQ(m_context->GetLoaderAddress(), 65536);
}

TEST_F(ChipPropertiesTest, OtherLinesAreIgnored)
{
    Load("# the family's own notes\nName=vb27\nChipType=0x30004=1\nChipType=0x30005\n");
    EXPECT_EQ(m_context->GetChipType(), 0x30005);
}

TEST_F(ChipPropertiesTest, MissingFileNamesItsPath)
{
    m_context = NewContext();
    m_context->SetChipName("nosuchchip");
    bool loaded = true;
    EXPECT_EQ(CaptureOutput([&] { loaded = m_context->LoadChipProperties(); }),
              "error: Open file failed: " + PathOf("nosuchchip") + "\n");
    EXPECT_FALSE(loaded);
}

TEST_F(ChipPropertiesTest, ChipNameIsUsedWithItsBlanks)
{
    Write("ChipProperties/vb27.txt", "ChipType=0x30004\n");
    m_context = NewContext();
    m_context->SetChipName("vb27 ");
    EXPECT_EQ(CaptureOutput([&] { m_context->LoadChipProperties(); }),
              "error: Open file failed: " + PathOf("vb27 ") + "\n");
}

TEST_F(ChipPropertiesTest, ChipTypeThatIsMissingMisspeltBlankOrZeroIsNotFound)
{
    const std::string expected = "error: ChipType not found in file " + PathOf("chip") + "\n";
    EXPECT_EQ(Load("LoadBurnAddress=0\n", false), expected);
    EXPECT_EQ(Load("chiptype=0x30004\n", false), expected);
    EXPECT_EQ(Load("ChipType =0x30004\n", false), expected);
    EXPECT_EQ(Load("ChipType=0\n", false), expected);
    EXPECT_EQ(Load("", false), expected);
}

TEST_F(ChipPropertiesTest, UnreadableNumberFailsNamingKeyFileAndText)
{
    EXPECT_EQ(Load("ChipType=vb27\n", false),
              "error: Invalid number for key ChipType in file " + PathOf("chip") + ": \"vb27\"\n");
    EXPECT_EQ(Load("ChipType=0xffffffff\n", false),
              "error: Invalid number for key ChipType in file " + PathOf("chip") + ": \"0xffffffff\"\n");
    EXPECT_EQ(Load("ChipType=0x30004\nLoadBurnAddress=4g\n", false),
              "error: Invalid number for key LoadBurnAddress in file " + PathOf("chip") + ": \"4g\"\n");
}

TEST(InstalledChipProperties, EachFamilyHasItsChipType)
{
    const std::pair<const char*, int> families[] = {{"vb27", 0x30004}, {"qn4180", 0x30005}, {"typesix", 0x30002}};
    for (const auto& family : families) {
        BurnContext context(std::string(TARNWICK_SOURCE_DIR) + "/");
        context.SetChipName(family.first);
        ASSERT_TRUE(context.LoadChipProperties()) << family.first;
        EXPECT_EQ(context.GetChipType(), family.second) << family.first;
        EXPECT_EQ(context.GetDepartment(), BurnInfo::CONNECTION_CHIP) << family.first;
    }
}

} // namespace
