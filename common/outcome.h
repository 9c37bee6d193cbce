// What became of a run or of one of its steps: success, or a failure made as
// a value where it happened (its kind, the message the user saw, the image it
// concerns, a hint for the person) and carried up as it is. The exit code is
// the result code the job gives it; reports and the station take it whole,
// and nothing reads printed text back to find out what went wrong.
#pragma once

#include <string>

namespace Common {

enum class OutcomeKind {
    NONE,                 // success
    SETTINGS,             // command line, burn.config, chip property file or partition table
    PACKAGE_REFUSED,      // the package or image was refused before the board was touched
    FILE,                 // a file of the run could not be read or written
    PORT,                 // the port could not be opened
    RATE_REFUSED,         // the line cannot run at the rate the run needs
    HANDSHAKE,            // the board did not answer the handshake or announce itself
    COMMAND_REFUSED,      // the board answered a command with a refusal
    TRANSFER,             // a command or a transfer went unanswered in its window
    LINE_LOST,            // the line went away under the run
    CANCELLED,            // the user stopped the run
    BURN_CHECK_MISMATCH,  // the flash does not hold what was burned
    NOT_OFFERED,          // the family does not offer the operation
};

// "handshake", "lineLost", ...: the kind as reports and event lines name it.
const char* OutcomeKindName(OutcomeKind kind);

struct Outcome {
    OutcomeKind kind = OutcomeKind::NONE;
    std::string message;  // as printed, line breaks included
    std::string image;    // the image it concerns; empty when none
    std::string hint;     // what the person can do about it; empty when nothing to say
    int code = 0;         // the run's result code; 0 for success

    bool Ok() const { return kind == OutcomeKind::NONE; }
    // The first line of the message without its line breaks, for reports.
    std::string Summary() const;

    static Outcome Failure(OutcomeKind kind, std::string message, std::string image = std::string());
};

// How an image transfer ended: the board confirmed it, it was sent but the
// board's confirmation did not come, or it failed.
enum class ImageResult { CONFIRMED, UNCONFIRMED, FAILED };

const char* ImageResultName(ImageResult result);

// What the burn check found for one image: the tool read it back and it
// matched, or did not, or could not be read; the board checked its digest
// itself; or nothing checked it (no check asked for, or an image that does
// not stay in flash as it was sent).
enum class CheckResult { NOT_CHECKED, PASSED, FAILED, READ_FAILED, BOARD_DIGEST };

// "not checked", "passed", "failed", "read failed", "board digest": as reports and event lines name it.
const char* CheckResultName(CheckResult result);
// The result of that name; NOT_CHECKED for a name not known here.
CheckResult CheckResultOfName(const std::string& name);

}  // namespace Common
