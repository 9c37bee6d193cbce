// The board's flash in memory and on disk, and the JSON report the tool's
// end-to-end tests read.
#include "sim/board.h"
#include "sim/sim_sha256.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace {

std::string TempPath(const char* name)
{
    return std::string("/tmp/tarnwick_sim_") + std::to_string(getpid()) + "_" + name;
}

TEST(SimFlash, StartsErasedAndGrowsWhenAWriteReachesPastItsEnd)
{
    Sim::Flash flash(16);
    EXPECT_EQ(flash.Bytes(), std::vector<uint8_t>(16, 0xFF));
    const uint8_t data[] = {1, 2, 3};
    flash.Write(20, data, 3);
    EXPECT_EQ(flash.Size(), 23u);
    EXPECT_EQ(flash.Read(16, 7), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3}));
}

TEST(SimFlash, ReadsPastTheEndGiveErasedBytes)
{
    Sim::Flash flash(4);
    EXPECT_EQ(flash.Read(2, 4), std::vector<uint8_t>(4, 0xFF));
    EXPECT_EQ(flash.Read(100, 2), std::vector<uint8_t>(2, 0xFF));
}

TEST(SimFlash, WritesBeyondTheLargestFlashAreIgnored)
{
    Sim::Flash flash(4);
    const uint8_t b = 0;
    flash.Write(Sim::Flash::MAX_SIZE, &b, 1);
    EXPECT_EQ(flash.Size(), 4u);
    EXPECT_FALSE(Sim::Flash::Fits(Sim::Flash::MAX_SIZE, 1));
    EXPECT_FALSE(Sim::Flash::Fits(UINT64_MAX, 2));
    EXPECT_TRUE(Sim::Flash::Fits(Sim::Flash::MAX_SIZE - 1, 1));
}

TEST(SimFlash, EraseClipsToTheFlash)
{
    Sim::Flash flash(8, 0xFF);
    const std::vector<uint8_t> zeros(8, 0);
    flash.Write(0, zeros.data(), 8);
    flash.Erase(6, 100);
    EXPECT_EQ(flash.Bytes(), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0xFF, 0xFF}));
    flash.Erase(2, 1);
    EXPECT_EQ(flash.Read(1, 3), (std::vector<uint8_t>{0, 0xFF, 0}));
}

TEST(SimFlash, SaveAndLoadRoundTripAndAShortFileLeavesTheRestErased)
{
    const std::string path = TempPath("flash.bin");
    Sim::Flash a(8);
    const uint8_t data[] = {9, 8, 7};
    a.Write(1, data, 3);
    ASSERT_TRUE(a.Save(path));
    Sim::Flash b(16);
    ASSERT_TRUE(b.Load(path));
    EXPECT_EQ(b.Read(0, 8), a.Bytes());
    EXPECT_EQ(b.Read(8, 8), std::vector<uint8_t>(8, 0xFF));
    Sim::Flash c(4);
    ASSERT_TRUE(c.Load(path));
    EXPECT_EQ(c.Size(), 8u);
    EXPECT_FALSE(c.Load(path + ".missing"));
    std::remove(path.c_str());
}

TEST(SimReport, TheJsonListsEverythingInItsFixedShape)
{
    Sim::Report report;
    report.SetFamily("vb27");
    Sim::ImageRecord image;
    image.kind = "flash";
    image.name = "app.bin";
    image.address = 0x1000;
    image.length = 5;
    image.regionSize = 0x2000;
    image.sha256 = "ab";
    report.AddImage(image);
    report.AddErase("all", 0, 16);
    report.AddReset({0xEF, 0x01});
    report.AddBaudChange(921600);
    report.AddProtocolError("bad \"frame\"\n");
    report.AddEvent("e");
    Sim::Flash flash(16);
    const std::string digest = Sim::Sha256::Hex(Sim::Sha256::Of(flash.Bytes().data(), 16));
    EXPECT_EQ(report.ToJson(flash),
              "{\n"
              "  \"family\": \"vb27\",\n"
              "  \"images\": [\n"
              "    {\"kind\": \"flash\", \"name\": \"app.bin\", \"address\": 4096, \"fileType\": -1, \"length\": 5, "
              "\"regionSize\": 8192, \"sha256\": \"ab\", \"digestMatched\": -1}\n"
              "  ],\n"
              "  \"erases\": [\n"
              "    {\"what\": \"all\", \"address\": 0, \"length\": 16}\n"
              "  ],\n"
              "  \"resets\": [\n"
              "    \"ef01\"\n"
              "  ],\n"
              "  \"baudChanges\": [\n"
              "    921600\n"
              "  ],\n"
              "  \"protocolErrors\": [\n"
              "    \"bad \\\"frame\\\"\\u000a\"\n"
              "  ],\n"
              "  \"events\": [\n"
              "    \"e\"\n"
              "  ],\n"
              "  \"flash\": {\"size\": 16, \"sha256\": \"" + digest + "\"}\n"
              "}\n");
}

TEST(SimReport, NamesThatAreNotTextStillGiveValidJson)
{
    Sim::Report report;
    Sim::ImageRecord image;
    image.name = std::string("a\xff\x01\\", 4);
    report.AddImage(image);
    Sim::Flash flash(1);
    EXPECT_NE(report.ToJson(flash).find("\"a\\u00ff\\u0001\\\\\""), std::string::npos);
}

TEST(SimReport, SaveWritesTheWholeDocument)
{
    const std::string path = TempPath("report.json");
    Sim::Report report;
    report.AddEvent("saved");
    Sim::Flash flash(1);
    ASSERT_TRUE(report.Save(path, flash));
    std::ifstream in(path);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, report.ToJson(flash));
    EXPECT_FALSE(report.Save("/nonexistent-dir/report.json", flash));
    std::remove(path.c_str());
}

}  // namespace
