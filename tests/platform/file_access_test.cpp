// Files named in UTF-8 open on every system (Windows takes them through the
// wide calls), replace an existing file in one step, and report positions
// past 4 GiB without truncation; port names sort as a user counts them. The
// executable's directory is relied on by every burn run from elsewhere
// (tests/e2e/install_test.cpp, the wine burns).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/file_access.h"
#include "platform/serial_port_list.h"
#include "support/test_files.h"

namespace {

TEST(Utf8Files, ANonAsciiNameIsWrittenReplacedReadToPositionsBeyondFourGibibytesAndRemoved)
{
    const TestSupport::TempDir tmp{"tarnwick-utf8"};
    // Letters outside every single-byte code page at once.
    const std::string name = tmp.Path() + "/päckchen-ü-Ω/fw-ß.fwpkg";
    const std::string staged = name + ".part";
    ASSERT_TRUE(TestSupport::WriteText(name, "old content"));
    ASSERT_TRUE(TestSupport::WriteText(staged, "payload"));
    EXPECT_EQ(Platform::MoveIntoPlace(staged, name), 0) << "an existing target is replaced";
    EXPECT_FALSE(Platform::PathExists(staged));
    EXPECT_NE(Platform::MoveIntoPlace(staged, name), 0) << "a missing source is an error";
    EXPECT_TRUE(Platform::PathExists(name));
    FILE* file = Platform::OpenFile(name, "rb");
    ASSERT_NE(file, nullptr);
    char text[16] = {};
    EXPECT_EQ(std::fread(text, 1, sizeof(text), file), 7u);
    EXPECT_FALSE(Platform::IsDirectoryStream(file));
    // Seeking past the end of a file opened for reading is allowed and changes nothing on disk.
    const int64_t far = (int64_t{1} << 32) + 3;
    EXPECT_EQ(Platform::SeekFile(file, far, SEEK_SET), 0);
    EXPECT_EQ(Platform::TellFile(file), far);
    EXPECT_EQ(Platform::SeekFile(file, 0, SEEK_END), 0);
    EXPECT_EQ(Platform::TellFile(file), 7);
    std::fclose(file);
    EXPECT_EQ(std::string(text), "payload");

    EXPECT_EQ(Platform::RemoveFile(name), 0);
    EXPECT_FALSE(Platform::PathExists(name));
    EXPECT_NE(Platform::RemoveFile(name), 0);
    EXPECT_EQ(Platform::OpenFile(name, "rb"), nullptr);
}

TEST(PortNames, NumbersAtTheEndCompareAsNumbers)
{
    // ttyACM0 < ttyS2 < ttyS10 is the POSIX port list's order (tests/transport/serial_port_list_test.cpp).
    using SerialPortListSp::NaturalLess;
    EXPECT_TRUE(NaturalLess("COM9", "COM10"));
    EXPECT_FALSE(NaturalLess("COM10", "COM9"));
    EXPECT_TRUE(NaturalLess("COM03", "COM4")) << "leading zeros do not make a number larger";
    EXPECT_FALSE(NaturalLess("COM3", "COM3"));
}

}  // namespace
