// What a transfer protocol needs of the chip object that carries its frames.
// The chip object (device layer) implements it, so the protocols in this
// layer never depend on the layer above them.
#pragma once

#include <cstdint>
#include <string>

class ChipLink {
public:
    virtual ~ChipLink() = default;
    virtual unsigned long Send(const unsigned char* data, unsigned long length) = 0;
    virtual unsigned long Receive(unsigned char* buffer, unsigned long length) = 0;
    // Waits for received bytes for at most timeoutMs; true when some are pending.
    virtual bool WaitForData(uint32_t timeoutMs) = 0;
    virtual bool CheckIsCancel() = 0;
    virtual long long GetThisPtr() const = 0;
    // A text command framed for the board, with its answer (board command channel).
    virtual int SendCmd(unsigned char* cmd, unsigned long length, unsigned char* reply, int replySize,
                        int timeout) = 0;
    // True once the line is gone; waits end at once instead of running out.
    virtual bool IsLineBroken() const = 0;
};
