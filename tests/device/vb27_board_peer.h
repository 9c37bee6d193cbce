// A scripted Vb27 boot ROM and loader on the far end of a pseudo-terminal.
// Everything it sends or checks is written here from the wire tables of the
// boot ROM (command and ACK frames) and of the loader's YMODEM variant; it
// uses none of the tool's frame code, only the shared checksum.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Vb27Peer {

using Bytes = std::vector<uint8_t>;

// Master side of a pseudo-terminal; SlavePath() is what the tool opens.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;
    bool Ok() const { return m_master >= 0; }
    int Master() const { return m_master; }
    const std::string& SlavePath() const { return m_slavePath; }

private:
    int m_master = -1;
    int m_slave = -1;  // held open so the master never sees a hang-up between runs
    std::string m_slavePath;
};

struct Command {
    uint8_t code = 0;
    Bytes params;  // bytes 8 .. n-3
    Bytes raw;     // the whole frame

    uint32_t U32(size_t paramOffset) const;
};

// ACK frame: EF BE AD DE, 4 unchecked bytes, result, 1 unchecked byte, CRC LE.
Bytes AckFrame(uint8_t result);
// A package in the normal fwpkg layout with the images placed behind the table.
struct PackageImage {
    std::string name;
    uint32_t type = 0;
    uint32_t burnAddress = 0;
    uint32_t burnSize = 0;
    Bytes data;
};
Bytes BuildPackage(const std::vector<PackageImage>& images);
Bytes PatternBytes(size_t length, uint8_t seed);

struct ReceivedFile {
    std::string name;
    uint32_t announcedSize = 0;
    uint32_t frameDataSize = 0;  // data bytes of the first data frame
    Bytes data;                  // cut to the announced size
};

class BoardPeer {
public:
    explicit BoardPeer(int fd) : m_fd(fd) {}

    void Write(const Bytes& bytes);
    void WriteByte(uint8_t byte) { Write(Bytes{byte}); }

    // Next command frame from the tool; handshake frames are skipped unless
    // asked for. False (with the reason in Error()) after timeoutMs.
    bool NextCommand(Command& command, bool skipHandshakes = true, int timeoutMs = 10000);
    // Waits for one byte equal to wanted; stray 'C' requests are passed over.
    bool ExpectByte(uint8_t wanted, int timeoutMs = 10000);
    // Plays the YMODEM receiver after the script has sent its 'C': block 0,
    // data frames (any of the sizes the tool may use), EOT, finish frame.
    bool ReceiveYmodemFile(ReceivedFile& file, int timeoutMs = 10000);
    // Plays the YMODEM sender of a read-back, after the tool's first 'C':
    // block 0, 1 KiB data frames, EOT, closing block 0.
    bool SendYmodemFile(const std::string& name, const Bytes& data, int timeoutMs = 10000);
    // Takes exactly these bytes, which must come next.
    bool ExpectText(const std::string& text, int timeoutMs = 10000);
    // Everything the tool sent within windowMs, not yet taken by a frame.
    Bytes Drain(int windowMs);

    const std::string& Error() const { return m_error; }

private:
    bool Fill(size_t count, int timeoutMs);
    bool Take(uint8_t* out, size_t count, int timeoutMs);
    bool Fail(const std::string& why);
    // Drops handshake frames that were still on their way when the ACK went out.
    bool SkipStaleHandshakes(int timeoutMs);

    int m_fd;
    Bytes m_pending;
    std::string m_error;
};

} // namespace Vb27Peer
