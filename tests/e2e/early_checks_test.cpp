// What the tool can check on its own is checked before the operator is asked
// to reset the board: a missing or refused package, or a malformed network
// port name, ends the run before the reset prompt and before the port is
// opened, with the message and exit code the settings or the job give it.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "e2e_support.h"

using namespace E2e;

namespace {

const char* const RESET_PROMPT = "Please reset the device";
const char* const BURN_FAILED = "\nBurned failed.\n";
constexpr int BURN_BOOT_FAILED = 4;
constexpr int BURN_PARTITION_FAILED = 5;
constexpr int ERASE_FAILED = 12;
constexpr int PARAM_ERROR = 1;

struct Refusal {
    const char* name;
    const char* operation;
    const char* family;
    const char* package;  // relative to the installation; empty: missing
    Bytes bytes;
    int exitCode;
    std::vector<std::string> messages;  // each with PATH for the package's path
};

// The output with the package's path written PATH.
std::string WithPath(std::string output, const std::string& path)
{
    for (size_t at = output.find(path); at != std::string::npos; at = output.find(path, at)) {
        output.replace(at, path.size(), "PATH");
    }
    return output;
}

// What a Vb27 burn prints for a package it refuses, around the reason.
std::vector<std::string> Vb27Refusal(const std::string& reason)
{
    return {"File: PATH format error!\n", reason, "\nerror: Burn PATH failed!\n", BURN_FAILED};
}

const std::vector<PackageImage> IMAGES{{"loader.bin", TYPE_LOADER, 0, 0, Pattern(2048, 1)},
                                       {"app.bin", TYPE_FLASH, 0x10000, 0x1000, Pattern(3000, 2)}};

class CheckedBeforeReset : public E2eTest {};

TEST_F(CheckedBeforeReset, AMissingOrRefusedPackageFailsBeforeTheResetPromptAndThePort)
{
    Bytes pastEnd = BuildPackage(IMAGES);
    PutLe(pastEnd, FieldAt(false, 1, FIELD_LENGTH), static_cast<uint32_t>(IMAGES[1].data.size() + 1), 4);
    SealPackage(pastEnd);
    Bytes badCrc = BuildPackage(IMAGES);
    badCrc[OFFSET_CRC] ^= 0xFF;
    Bytes wrongFlag = BuildPackage(IMAGES);
    PutLe(wrongFlag, 0, NORMAL_FLAG - 1, 4);  // outside the CRC
    const std::vector<Refusal> cases{
        {"vb27 missing", "--burn", "vb27", "", {}, BURN_BOOT_FAILED,
         {"Get file content failed: PATH\n", "\nerror: Burn PATH failed!\n", BURN_FAILED}},
        {"vb27 crc", "--burn", "vb27", "crc.fwpkg", badCrc, BURN_BOOT_FAILED,
         Vb27Refusal("is not equal to fwpkg crc:")},
        {"vb27 flag", "--burn", "vb27", "flag.fwpkg", wrongFlag, BURN_BOOT_FAILED,
         Vb27Refusal("is not equal to 0xefbeaddf!\n")},
        {"vb27 loader second", "--burn", "vb27", "order.fwpkg", BuildPackage({IMAGES[1], IMAGES[0]}),
         BURN_BOOT_FAILED, Vb27Refusal("The first file is not a loader.\n")},
        {"vb27 image past the end", "--burn", "vb27", "past.fwpkg", pastEnd, BURN_BOOT_FAILED,
         Vb27Refusal("reaches past the end of the package")},
        {"vb27 erase missing", "--erase", "vb27", "", {}, ERASE_FAILED,
         {"Get file content failed: PATH\n", "\nerror: Erase all flash failed!\n", "Erase failed.\n"}},
        {"typesix missing", "--burn", "typesix", "", {}, BURN_PARTITION_FAILED,
         {"error: Failed to open fwpkg file: PATH\n", BURN_FAILED}},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string package = *c.package == '\0' ? Path("missing.fwpkg") : Given(c.package, c.bytes);
        const BoardRun b = OnBoard(c.operation, c.family, package);
        EXPECT_EQ(b.run.exitCode, c.exitCode) << b.run.output;
        EXPECT_EQ(b.run.output.find(RESET_PROMPT), std::string::npos) << b.run.output;
        ExpectHolds(WithPath(b.run.output, package), c.messages);
        // The port was never opened: the board heard nothing.
        EXPECT_EQ(b.report.text.find("the tool closed the line"), std::string::npos) << b.report.text;
        EXPECT_TRUE(b.report.List("images").empty()) << b.report.text;
    }
}

// A lax reading of a malformed name ("socket://:PORT" as the local host)
// would reach the listener. Every malformed form, and why:
// tests/transport/port_name_test.cpp.
TEST_F(CheckedBeforeReset, AMalformedNetworkPortNameIsRefusedBeforeTheResetPromptAndAnyConnection)
{
    const LoopbackSocket server = BindLoopback(SOCK_NONBLOCK);
    ASSERT_EQ(listen(server.fd, 8), 0);
    const std::string package = Given("app.fwpkg", BuildPackage(IMAGES));
    const std::string name = "socket://:" + std::to_string(server.port);
    const std::string config = "serialPort=" + name + "\nmode=serial\n";
    const std::vector<std::string> fromConfig{"--burn", "-n", "vb27", "-f", package, "--config",
                                              Given("run.config", Bytes(config.begin(), config.end()))};
    for (const std::vector<std::string>& arguments : {ToolArgs("--burn", "vb27", name, package), fromConfig}) {
        SCOPED_TRACE(arguments.back());  // the package, or the configuration naming the port
        const RunResult run = RunProgram(Tool(), arguments, RUN_LIMIT_MS);
        EXPECT_EQ(run.exitCode, PARAM_ERROR) << run.output;
        EXPECT_NE(run.output.find("error: Invalid network port name \"" + name + "\": "), std::string::npos)
            << run.output;
        EXPECT_EQ(run.output.find(RESET_PROMPT), std::string::npos) << run.output;
        EXPECT_LT(accept(server.fd, nullptr, nullptr), 0) << "the tool connected for " << name;
    }
    close(server.fd);
}

}  // namespace
