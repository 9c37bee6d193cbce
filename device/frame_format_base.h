// How a text command for the board's loader is framed on the line. The chip
// object owns one and sends its text commands through it.
#pragma once

class BurnChipBase;

class FrameFormatBase {
public:
    virtual ~FrameFormatBase() = default;

    void SetTransport(BurnChipBase* chip) { m_chip = chip; }

    // Sends the command; with a reply buffer also collects the board's answer.
    // 1 on success, 0 on failure (after a message).
    virtual int SendCmd(unsigned char* cmd, unsigned long length, unsigned char* reply, int replySize,
                        int timeout) = 0;

protected:
    BurnChipBase* m_chip = nullptr;  // not owned
};
