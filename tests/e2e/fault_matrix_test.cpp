// The fault matrix: tarnwickcmd against boards of both families whose line
// or answers go wrong in one way each (noise, a refused frame, a broken check,
// a lost answer, a silent board, a cable pulled in the middle of an image),
// or whose run is cancelled from outside by SIGINT or SIGTERM.
//
// Whatever the fault, a run must end before its window is over, and:
//  - a fault the protocol gets past ends in a complete burn, every image on
//    the board byte for byte;
//  - any other fault ends with its message, "Burned failed." and a non-zero
//    exit code, and no image is called successful unless the board received
//    it intact, and the last image never reaches the board whole;
//  - the tool has let go of the port (the board saw the line closed);
//  - a signal ends the running wait with "User Cancelled!" and the run
//    within 5 s; a second signal ends the process at once.
//
// The windows are the boards' own and generous on top: these are checks that
// a run ends, not measurements.
#include <gtest/gtest.h>

#include <signal.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "e2e_support.h"

using namespace E2e;

namespace {

// A recovered fault costs at most a few reply windows; the tool is killed here.
constexpr int RECOVERY_LIMIT_MS = 120000;
// A lost line ends every wait at once; the rest is the reset-free shutdown.
constexpr int PULLED_CABLE_LIMIT_MS = 30000;
// A silent TypeSix board: the 30 s wait for the ROM's text, then the end.
constexpr int TYPESIX_SILENT_LIMIT_MS = 90000;
// A silent Vb27 board: its 60 s handshake window, then the end. A refused
// Vb27 command is sent again after the rest of its 30 s ACK window.
constexpr int VB27_LONG_LIMIT_MS = 200000;
constexpr const char* SHAKEHAND_FAILED = "Shakehand failed, The board does not respond.\n";
// A cancel: until the text the signal waits for, then the end.
constexpr int CANCEL_LIMIT_MS = 60000;
constexpr int CANCEL_END_LIMIT_MS = 5000;
// Printed by both families as the wait for the board begins.
constexpr const char* WAITING_FOR_BOARD = "Please reset the device, the waiting time is about 30 seconds.\n";
constexpr const char* CANCELLED = "\nUser Cancelled!\n";

const std::vector<PackageImage> VB27_PACKAGE{
    {"loader.bin", TYPE_LOADER, 0, 0, Pattern(8 * 1024 + 17, 31)},
    {"app_1k.bin", TYPE_FLASH, 0x10000, 0x1000, Pattern(1024, 32)},
    {"big.bin", TYPE_FLASH, 0x100000, 0x80000, Pattern(300 * 1024 + 5, 33)},
};

const std::vector<PackageImage> TYPESIX_PACKAGE{
    {"loader.bin", TYPE_LOADER, 0, 0, Pattern(5000, 41)},
    {"flash.bin", TYPESIX_FLASH, 0x20000, 0x40000, Pattern(150 * 1024 + 7, 42)},
};


// The tool's own bytes before the image data: enough to be inside big.bin /
// flash.bin when the cable goes (the loader and the first image are smaller).
constexpr const char* VB27_MID_IMAGE_BYTES = "120000";
constexpr const char* TYPESIX_MID_IMAGE_BYTES = "60000";

const std::vector<FaultCase>& Cases()
{
    static const std::vector<FaultCase> cases = {
        // --- Vb27 -------------------------------------------------------------------
        {"Vb27Noise", "vb27", {"--noise", "7"}, Ending::RECOVERS, RECOVERY_LIMIT_MS, {}, ""},
        {"Vb27RefusedHandshake", "vb27", {"--nak-frame", "1"}, Ending::RECOVERS, RECOVERY_LIMIT_MS, {},
         "refused as the fault plan asks"},
        {"Vb27DroppedAnswer", "vb27", {"--drop-answer", "1"}, Ending::RECOVERS, RECOVERY_LIMIT_MS, {},
         "dropped as the fault plan asks"},
        // The report gives the failure as it was made, not the last of the messages that followed it.
        {"Vb27CablePulledMidImage", "vb27", {"--close-after", VB27_MID_IMAGE_BYTES}, Ending::FAILS,
         PULLED_CABLE_LIMIT_MS,
         {"downloaded: app_1k.bin successfully.\n", "error: the serial line was lost.\n",
          "Download: big.bin failed.\n"},
         "line closed after", {}, "",
         {{"resultMeaning", "the loader could not be burned"}, {"lastError", "error: the serial line was lost."},
          {"failure", {{"kind", "lineLost"}, {"image", "big.bin"}}}, {"cancelled", false},
          {"images", {{{"name", "loader.bin"}, {"result", "ok"}}, {{"name", "app_1k.bin"}, {"result", "ok"}},
                      {{"name", "big.bin"}, {"result", "failed"}}}}}},
        {"Vb27CablePulledInLoader", "vb27", {"--close-after", "3000"}, Ending::FAILS, PULLED_CABLE_LIMIT_MS,
         {"error: the serial line was lost.\n"}, "line closed after"},
        // The handshake and the burn both report the silence.
        {"Vb27SilentBoard_Long", "vb27", {"--silent"}, Ending::FAILS, VB27_LONG_LIMIT_MS,
         {SHAKEHAND_FAILED, SHAKEHAND_FAILED, "\nerror: Burn "}, ""},
        // Frame 1 is the handshake; frame 2 announces app_1k.bin.
        {"Vb27RefusedImageCommand_Long", "vb27", {"--nak-frame", "2"}, Ending::RECOVERS, VB27_LONG_LIMIT_MS,
         {"CheckAckFrame: ack result error: "}, "refused as the fault plan asks"},
        // --- TypeSix -----------------------------------------------------------------
        {"TypeSixNoise", "typesix", {"--noise", "7"}, Ending::RECOVERS, RECOVERY_LIMIT_MS, {}, ""},
        {"TypeSixDroppedAnswer", "typesix", {"--drop-answer", "9"}, Ending::RECOVERS, RECOVERY_LIMIT_MS, {},
         "fault: answer 9 dropped"},
        {"TypeSixRefusedDataFrame", "typesix", {"--nak-frame", "10"}, Ending::RECOVERS, RECOVERY_LIMIT_MS,
         {"return code error:0\n"}, "fault: negative answer to frame 10"},
        {"TypeSixBrokenAnswerCheck", "typesix", {"--corrupt-answer", "9"}, Ending::RECOVERS, RECOVERY_LIMIT_MS,
         {"is not equal to the received crc"}, "has a broken check"},
        {"TypeSixRefusedSsbPacket", "typesix", {"--nak-frame", "3"}, Ending::FAILS, RECOVERY_LIMIT_MS,
         {"return code error:0\n", "fsb write page failed", "error: Burn loader loader.bin failed!\n"},
         "fault: negative answer to frame 3"},
        {"TypeSixCablePulledMidImage", "typesix", {"--close-after", TYPESIX_MID_IMAGE_BYTES}, Ending::FAILS,
         PULLED_CABLE_LIMIT_MS,
         {"Burn loader.bin successfully.\n", "error: the serial line was lost.\n",
          "error: Burn flash.bin failed!\n"},
         "line closed after", {}, "",
         {{"failure", {{"kind", "lineLost"}, {"image", "flash.bin"}}}, {"cancelled", false},
          {"images", {{{"name", "loader.bin"}, {"result", "ok"}}, {{"name", "flash.bin"}, {"result", "failed"}}}}}},
        {"TypeSixSilentBoard_Long", "typesix", {"--silent"}, Ending::FAILS, TYPESIX_SILENT_LIMIT_MS,
         {WAITING_FOR_BOARD, "ready failed.\n", "error: Burn loader loader.bin failed!\n"}, ""},
        // --- cancel ------------------------------------------------------------------
        // Let a few handshake frames go out first.
        {"SigintDuringTheVb27Handshake", "vb27", {"--silent"}, Ending::FAILS, CANCEL_LIMIT_MS, {CANCELLED}, "",
         {WAITING_FOR_BOARD, 300, {SIGINT}, CANCEL_END_LIMIT_MS}, "",
         {{"cancelled", true}, {"failure", {{"kind", "cancelled"}}}, {"images", nlohmann::json::array()}}},
        // A slow line: the image takes far longer than the test waits.
        {"SigtermInTheMiddleOfAnImage", "vb27", {"--line-baud", "115200"}, Ending::FAILS, CANCEL_LIMIT_MS, {CANCELLED},
         "", {"Start download: big.bin.", 500, {SIGTERM}, CANCEL_END_LIMIT_MS}, "",
         {{"cancelled", true}, {"lastError", "User Cancelled!"}, {"failure", {{"kind", "cancelled"}, {"image", "big.bin"}}},
          {"images", {{{"name", "loader.bin"}, {"result", "ok"}}, {{"name", "app_1k.bin"}, {"result", "ok"}},
                      {{"name", "big.bin"}, {"result", "failed"}}}}}},
        {"SigintWhileWaitingForATypeSixRom", "typesix", {"--silent"}, Ending::FAILS, CANCEL_LIMIT_MS, {CANCELLED}, "",
         {WAITING_FOR_BOARD, 300, {SIGINT}, CANCEL_END_LIMIT_MS}, "ready failed"},
        // Two different signals cannot merge into one while pending; whichever
        // is delivered second ends the process by its default action.
        {"ASecondSignalEndsTheProcessAtOnce", "vb27", {"--silent"}, Ending::KILLED, CANCEL_LIMIT_MS, {}, "",
         {WAITING_FOR_BOARD, 0, {SIGTERM, SIGINT}, CANCEL_END_LIMIT_MS}, "Burned failed."},
    };
    return cases;
}

TEST_P(FaultMatrix, EndsInTimeAndNeverCallsADamagedImageSuccessful)
{
    const FaultCase& fault = GetParam();
    const std::string family = fault.family;
    const std::vector<PackageImage>& entries =
        !fault.package.empty() ? fault.package : family == "typesix" ? TYPESIX_PACKAGE : VB27_PACKAGE;
    const bool signalled = !fault.plan.signals.empty();
    // The line that calls an image successful.
    const auto success = [&](const std::string& name) {
        return (family == "typesix" ? "Burn " : "downloaded: ") + name + " successfully.\n";
    };
    const SignalPlan* plan = signalled ? &fault.plan : nullptr;
    const BoardRun b = fault.report.is_null() ? OnBoard("--burn", family, Given("fault.fwpkg", BuildPackage(entries)),
                                                        fault.toolOptions, fault.simFaults, fault.limitMs, plan)
                                              : Reported(family, entries, fault.toolOptions, fault.simFaults,
                                                         fault.limitMs, plan);
    const RunResult& run = b.run;
    const SimReport& report = b.report;

    ASSERT_TRUE(!signalled || run.signalled) << "never reached: " << fault.plan.after << "\n" << run.output;
    EXPECT_TRUE(fault.absent.empty() || !Contains(run.output, fault.absent)) << run.output;
    if (fault.ending == Ending::KILLED) {
        EXPECT_TRUE(run.signal == SIGINT || run.signal == SIGTERM)
            << "the second signal did not end it:\n" << run.output;
        return;
    }
    ASSERT_NE(run.exitCode, -1) << "still running after " << fault.limitMs << " ms\n" << run.output;
    if (!fault.report.is_null()) {
        nlohmann::json expected = fault.report;
        expected.update({{"resultCode", run.exitCode}, {"operation", "burn"}, {"chipName", family}});
        EXPECT_EQ(Pick(m_report, expected), expected) << m_report.dump(2);
    }
    EXPECT_TRUE(Contains(report.text, fault.injected)) << "the fault was never injected:\n" << report.text;
    const nlohmann::json faults = nlohmann::json::parse(report.text, nullptr, false).value("faults", nlohmann::json());
    EXPECT_TRUE(!fault.firesOnce || (faults.size() == 1 && faults[0]["fired"] == 1)) << report.text;
    size_t from = 0;
    for (const std::string& message : fault.messages) {
        const size_t at = run.output.find(message, from);
        EXPECT_NE(at, std::string::npos) << "missing (in order): " << message << "\n" << run.output;
        from = at == std::string::npos ? from : at + message.size();
    }

    // Every image the tool calls successful reached the board intact.
    for (const PackageImage& entry : entries) {
        if (!Contains(run.output, success(entry.name))) {
            continue;
        }
        EXPECT_TRUE(Contains(report.text, Sha256Hex(entry.data)))
            << entry.name << " called successful but not received intact\n" << report.text;
    }

    if (fault.ending == Ending::RECOVERS) {
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_TRUE(Contains(run.output, "\nBurned successfully.\n")) << run.output;
        for (const PackageImage& entry : entries) {
            EXPECT_TRUE(Contains(run.output, success(entry.name))) << entry.name << "\n" << run.output;
        }
        EXPECT_TRUE(report.protocolErrors.empty()) << report.text;
        // Byte for byte on the board: every Vb27 image, the TypeSix flash image in flash.
        if (family != "typesix") {
            ExpectVb27Board(report, b.flash, entries);
        } else {
            EXPECT_TRUE(FlashHolds(b.flash, entries[1].burnAddress, entries[1].data)) << report.text;
        }
    } else {
        EXPECT_NE(run.exitCode, 0) << run.output;
        EXPECT_TRUE(Contains(run.output, "\nBurned failed.\n")) << run.output;
        EXPECT_FALSE(Contains(run.output, "Burned successfully")) << run.output;
        // The last image never arrived whole: not called successful, not on the board.
        EXPECT_FALSE(Contains(run.output, success(entries.back().name))) << run.output;
        EXPECT_FALSE(Contains(report.text, Sha256Hex(entries.back().data))) << report.text;
    }

    // The port was let go: the board saw the line close, or pulled it itself.
    // A silent TypeSix board never hears a byte from the tool and cannot tell.
    if (family != "typesix" || fault.simFaults[0] != "--silent") {
        EXPECT_TRUE(Contains(report.text, "closed the line") || Contains(report.text, "line closed after"))
            << report.text;
    }
    EXPECT_FALSE(Contains(run.output, "Sanitizer")) << run.output;
}

INSTANTIATE_TEST_SUITE_P(BothFamilies, FaultMatrix, ::testing::ValuesIn(Cases()), FaultCase::Name);

}  // namespace
