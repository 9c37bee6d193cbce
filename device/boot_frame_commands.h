// The chip's boot-ROM frame commands: a frame sent until the board accepts
// it with one ACK byte (the text commands ride on it), and a frame answered
// by a 6-byte reply frame. Every wait is a window on the line's arrival of
// bytes; a frame is sent again in full after each reply window.
#pragma once

#include <string>

#include "device/chip_report.h"
#include "device/chip_line.h"

class BootFrameCommands {
public:
    BootFrameCommands(ChipLine& line, ChipReport& events) : m_line(line), m_events(events) {}

    // 1 once the board answered ACK; 0 after the total window (after the NAK
    // or the three-line timeout message), on a cancel or a lost line.
    int SendFrameBySerial(unsigned char* frame, unsigned long length, unsigned long replyWindow,
                          unsigned long totalWindow);
    bool SendFrame(unsigned char* frame, unsigned long length, unsigned long replyWindow, unsigned long totalWindow,
                   bool reportFailure);
    // Scans every 6-byte window of what arrived for a reply that accepts the frame sent.
    bool CheckReplyFrameValidity(const unsigned char* recv, int recvLength, const unsigned char* sent);
    // Why the last reply was not accepted.
    const std::string& GetErrorInfo() const { return m_errorInfo; }

private:
    bool ShouldStop() { return m_line.CheckIsCancel() || m_line.LineLost(); }

    ChipLine& m_line;
    ChipReport& m_events;
    std::string m_errorInfo;
};
