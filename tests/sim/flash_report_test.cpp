// The board's flash in memory and on disk, and the JSON report the tool's
// end-to-end tests read, its format pinned once here.
#include "sim/board.h"
#include "sim/sim_sha256.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

std::string TempPath(const char* name)
{
    return std::string("/tmp/tarnwick_sim_") + std::to_string(getpid()) + "_" + name;
}

TEST(SimFlash, StartsErasedGrowsOnWritesPastItsEndAndReadsErasedBeyond)
{
    Sim::Flash flash(16);
    EXPECT_EQ(flash.Bytes(), Bytes(16, 0xFF));
    const uint8_t data[] = {1, 2, 3};
    flash.Write(20, data, 3);
    EXPECT_EQ(flash.Size(), 23u);
    EXPECT_EQ(flash.Read(16, 7), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3}));
    EXPECT_EQ(flash.Read(21, 4), (Bytes{2, 3, 0xFF, 0xFF}));
    EXPECT_EQ(flash.Read(100, 2), Bytes(2, 0xFF));
    // Beyond the largest flash nothing is allocated.
    flash.Write(Sim::Flash::MAX_SIZE, data, 1);
    EXPECT_EQ(flash.Size(), 23u);
    EXPECT_FALSE(Sim::Flash::Fits(Sim::Flash::MAX_SIZE, 1));
    EXPECT_FALSE(Sim::Flash::Fits(UINT64_MAX, 2));
    EXPECT_TRUE(Sim::Flash::Fits(Sim::Flash::MAX_SIZE - 1, 1));
    // Erase clips to the flash.
    const Bytes zeros(23, 0);
    flash.Write(0, zeros.data(), zeros.size());
    flash.Erase(21, 100);
    flash.Erase(2, 1);
    EXPECT_EQ(flash.Read(0, 4), (Bytes{0, 0, 0xFF, 0}));
    EXPECT_EQ(flash.Read(19, 4), (Bytes{0, 0, 0xFF, 0xFF}));
    EXPECT_EQ(flash.Size(), 23u);
}

TEST(SimReport, TheJsonListsEverythingInItsFixedShapeAndIsSavedWhole)
{
    Sim::Report report;
    report.SetFamily("vb27");
    Sim::ImageRecord image;
    image.kind = "flash";
    image.name = std::string("a\xff\x01\\.bin", 8);  // names that are no text still give valid JSON
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
    const std::string json = report.ToJson(flash);
    EXPECT_EQ(json,
              "{\n"
              "  \"family\": \"vb27\",\n"
              "  \"images\": [\n"
              "    {\"kind\": \"flash\", \"name\": \"a\\u00ff\\u0001\\\\.bin\", \"address\": 4096, \"fileType\": -1, "
              "\"length\": 5, \"regionSize\": 8192, \"sha256\": \"ab\", \"digestMatched\": -1}\n"
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

    const std::string path = TempPath("report.json");
    ASSERT_TRUE(report.Save(path, flash));
    std::ifstream in(path);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), json);
    EXPECT_FALSE(report.Save("/nonexistent-dir/report.json", flash));
    std::remove(path.c_str());
}

}  // namespace
