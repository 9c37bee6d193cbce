// The JSON report the tool's end-to-end tests read. Its shape is compared whole
// there against a model of the board; here are the texts no run produces:
// names and messages that are no plain text, and a report that cannot be saved.
#include "sim/board.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace {

TEST(SimReport, NamesAndMessagesThatAreNoPlainTextStillGiveValidJsonSavedWhole)
{
    Sim::Report report;
    Sim::ImageRecord image;
    image.kind = "flash";
    image.name = std::string("a\xff\x01\\.bin", 8);
    image.address = 0x1000;
    report.AddImage(image);
    report.AddProtocolError("bad \"frame\"\n");
    const Sim::Flash flash(16);
    const std::string json = report.ToJson(flash);
    EXPECT_NE(json.find("\n    {\"kind\": \"flash\", \"name\": \"a\\u00ff\\u0001\\\\.bin\", \"address\": 4096, "),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\n  \"protocolErrors\": [\n    \"bad \\\"frame\\\"\\n\"\n  ],\n"), std::string::npos)
        << json;

    const std::string path = "/tmp/tarnwick_sim_report_" + std::to_string(getpid()) + ".json";
    ASSERT_TRUE(report.Save(path, flash));
    std::ifstream in(path);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), json);
    EXPECT_FALSE(report.Save("/nonexistent-dir/report.json", flash));
    std::remove(path.c_str());
}

}  // namespace
