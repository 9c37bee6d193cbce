// The event lines of "-events:PATH": one JSON object per line about a run as
// it happens, written by tarnwickcmd and read by tarnwick-station. This is
// their one definition, used by the writer and by the reader.
//
//   {"event":"waiting"}
//   {"event":"imageStarted","name":"app.bin","type":1,"bytes":4096}
//   {"event":"progress","percent":40}
//   {"event":"imageEnded","ok":true,"result":"confirmed"}
//   {"event":"checkStarted","name":"app.bin","bytes":4096}
//   {"event":"checkEnded","name":"app.bin","result":"failed","firstDifference":65541,"differingBytes":1}
//   {"event":"error","text":"Shakehand failed, The board does not respond.","kind":"handshake"}
#pragma once

#include <cstdint>
#include <string>

#include "common/outcome.h"

namespace EventLine {

struct Event {
    enum class Kind { WAITING, IMAGE_STARTED, PROGRESS, IMAGE_ENDED, CHECK_STARTED, CHECK_ENDED, ERROR, UNKNOWN };
    Kind kind = Kind::UNKNOWN;
    std::string name;    // IMAGE_STARTED, CHECK_STARTED, CHECK_ENDED: the image
    uint32_t type = 0;   // IMAGE_STARTED: its package image type
    uint64_t bytes = 0;  // IMAGE_STARTED; CHECK_STARTED: the bytes read back
    int percent = 0;     // PROGRESS: of the image in transfer or read back
    bool ok = false;     // IMAGE_ENDED
    std::string result;  // IMAGE_ENDED: "confirmed", "unconfirmed" or "failed"; CHECK_ENDED: the check's name
    Common::CheckResult check = Common::CheckResult::NOT_CHECKED;  // CHECK_ENDED, written as "result"
    uint32_t firstDifference = 0;  // CHECK_ENDED "failed": flash address of the first differing byte
    uint64_t differingBytes = 0;   // CHECK_ENDED "failed"
    std::string text;    // ERROR: the run's error
    std::string errorKind;  // ERROR: what kind of failure it was
};

// One line of JSON, without the line break.
std::string Format(const Event& event);
// False for a line that is no JSON object; an object of an event not known
// here gives kind UNKNOWN.
bool Parse(const std::string& line, Event& event);

}  // namespace EventLine
