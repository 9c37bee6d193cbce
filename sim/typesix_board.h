// The simulated TypeSix board: a boot ROM that takes a second-stage boot
// loader (ssb) in numbered packets, and the ssb that takes flash, eMMC, OTP
// and application images and answers read requests from flash.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/board.h"
#include "sim/typesix_frame.h"

namespace Sim {

class TypeSixBoard : public Board {
public:
    explicit TypeSixBoard(BoardEnv env);

    void OnBytes(const uint8_t* data, size_t length) override;
    void OnTick(int64_t nowMs) override;
    bool WasReset() const override { return m_wasReset; }

private:
    enum class Stage { Rom, Ssb };
    enum class ImageKind { None, Other, App };

    // A command as the board reads it: sequence byte, code, whole payload.
    struct Command {
        const std::vector<uint8_t>& payload;
        uint8_t seq;
        uint8_t code;
        size_t Size() const { return payload.size(); }
    };

    // What the ROM has taken of the ssb load so far.
    struct SsbLoad {
        size_t packetSize = 0;  // data bytes per packet, from the first packet
        std::vector<std::vector<uint8_t>> packets;  // whole payloads, by number
        std::vector<bool> full;  // packet's check sits at its very end
        bool bootable = false;
    };

    // The image the ssb is taking in.
    struct Image {
        ImageKind kind = ImageKind::None;
        std::string name;         // "flash", "emmc", "otp" or "app"
        uint8_t fileType = 0;     // application: the file type of its commands
        uint64_t address = 0;     // flash/eMMC/OTP: burn address
        uint64_t region = 0;      // flash/eMMC/OTP: announced size, 0 = not bounded
        size_t packetSize = 0;    // data bytes per data frame, from the first one
        std::vector<uint8_t> data;  // everything received, padding included
        bool ended = false;       // end-page command seen
        std::optional<uint32_t> appLength;  // memory configuration
        int digestMatched = -1;
    };

    void HandleFrame(const TypeSixFrame& frame);
    void HandleRom(const Command& cmd);
    void HandleSsb(const Command& cmd);

    // ROM commands
    void RomSsbPacket(const Command& cmd);
    void RomSsbDigest(const Command& cmd);
    void RomSecurityBlob(const Command& cmd, const char* kind, size_t lengthOffset);
    void RomExit(const Command& cmd);

    // ssb commands
    void SsbSetSpeed(const Command& cmd);
    void SsbEraseCore(const Command& cmd);
    void SsbStartFlashing(const Command& cmd);
    void SsbBinHead(const Command& cmd);
    void SsbData(const Command& cmd);
    void SsbEndPage(const Command& cmd);
    void SsbMemoryConfig(const Command& cmd);
    void SsbAppSha(const Command& cmd);
    void SsbKvKey(const Command& cmd);
    void SsbSha(const Command& cmd);
    void SsbDataRequest(const Command& cmd);
    void SsbExit(const Command& cmd);
    void SsbEraseAllExit(const Command& cmd);
    void ResetFrame(const TypeSixFrame& frame);

    bool ExpectLength(const Command& cmd, size_t length, const char* name);
    bool ExpectExitLength(const Command& cmd, const char* name);
    // Memory configuration and application digest: after the end page, same file type.
    bool ExpectFinishedApp(const Command& cmd, const char* name);
    void ReadVersion(const Command& cmd);
    // A digest is 32 bytes or absent; any other length is noted (and fails the check).
    void NoteDigestLength(size_t digestLength, const char* name);
    int CheckDigest(const uint8_t* data, size_t length, const uint8_t* digest, size_t digestLength);
    size_t FindDigestLength(const Image& image, const uint8_t* digest);
    void AbandonImage(const char* why);
    void RecordImage(const std::string& kind, uint64_t address, int fileType,
                     const uint8_t* data, size_t length, int digestMatched, uint64_t regionSize = 0);

    void EnterRom(const char* why);
    void EnterSsb(const char* why);
    void Enter(Stage stage, const char* why);
    void Announce(const std::string& text);

    void Answer(const Command& cmd, bool ok, const std::vector<uint8_t>& data = {});
    void Refuse(const Command& cmd, const std::string& why);
    void SendAnswer(const std::vector<uint8_t>& payload);
    void Write(const std::vector<uint8_t>& bytes);
    void Error(const std::string& text);

    BoardEnv m_env;
    TypeSixFrameReader m_reader;
    Stage m_stage = Stage::Rom;
    bool m_wasReset = false;
    bool m_ssbInFlash = false;   // the board boots an ssb of its own
    bool m_spokenTo = false;     // a frame arrived since the last (re)start
    std::string m_text;          // the start text of what runs now
    std::optional<int64_t> m_lastTextMs;
    int64_t m_lastTickMs = 0;
    int64_t m_lastBytesMs = 0;   // when the tool last sent anything
    int m_frameCount = 0;
    bool m_silenceNoted = false;
    // The last frame answered positively and its answer: the tool sends a
    // frame again when an answer got lost, and must not get it applied twice.
    std::vector<uint8_t> m_lastFrame;
    std::vector<uint8_t> m_lastAnswer;
    SsbLoad m_load;
    Image m_image;
};

}  // namespace Sim
