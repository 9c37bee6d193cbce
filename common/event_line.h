// The event lines of "-events:PATH": one JSON object per line about a run as
// it happens, written by tarnwickcmd and read by tarnwick-station. This is
// their one definition, used by the writer and by the reader.
//
//   {"event":"waiting"}
//   {"event":"imageStarted","name":"app.bin","type":1,"bytes":4096}
//   {"event":"progress","percent":40}
//   {"event":"imageEnded","ok":true,"result":"confirmed"}
//   {"event":"error","text":"Shakehand failed, The board does not respond.","kind":"handshake"}
#pragma once

#include <cstdint>
#include <string>

namespace EventLine {

struct Event {
    enum class Kind { WAITING, IMAGE_STARTED, PROGRESS, IMAGE_ENDED, ERROR, UNKNOWN };
    Kind kind = Kind::UNKNOWN;
    std::string name;    // IMAGE_STARTED: the image
    uint32_t type = 0;   // IMAGE_STARTED: its package image type
    uint64_t bytes = 0;  // IMAGE_STARTED
    int percent = 0;     // PROGRESS
    bool ok = false;     // IMAGE_ENDED
    std::string result;  // IMAGE_ENDED: "confirmed", "unconfirmed" or "failed"
    std::string text;    // ERROR: the run's error
    std::string errorKind;  // ERROR: what kind of failure it was
};

// One line of JSON, without the line break.
std::string Format(const Event& event);
// False for a line that is no JSON object; an object of an event not known
// here gives kind UNKNOWN.
bool Parse(const std::string& line, Event& event);

}  // namespace EventLine
