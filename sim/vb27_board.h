// A Vb27 or Qn4180 board from power-on: the boot ROM waits for the handshake,
// takes the loader by YMODEM, and the loader then takes command frames (images,
// erase, read-back, baud switch) until the tool resets the board.
#pragma once

#include "sim/board.h"
#include "sim/vb27_frame.h"
#include "sim/ymodem_receiver.h"
#include "sim/ymodem_sender.h"

#include <memory>

namespace Sim {

class Vb27Board : public Board {
public:
    enum class Mode { ROM, LOADER_TRANSFER, LOADER, IMAGE_TRANSFER, UPLOAD };

    // Partial frames that stop growing are given up after this long.
    static constexpr int64_t FRAME_GAP_MS = 500;

    Vb27Board(BoardEnv env, bool qn4180);

    void OnBytes(const uint8_t* data, size_t length) override;
    void OnTick(int64_t nowMs) override;
    bool WasReset() const override { return m_wasReset; }

    Mode GetMode() const { return m_mode; }

private:
    // An image announced by a command frame, waiting for its YMODEM transfer.
    struct PendingImage {
        std::string kind;
        bool hasAddress = false;
        uint32_t address = 0;
        bool hasLength = false;
        uint32_t length = 0;
        uint32_t regionSize = 0;
        std::vector<uint8_t> command;  // to recognise the same command sent again
    };

    void Process();
    void OnFrame(const Vb27::Frame& frame);
    void ChangeBaud(uint32_t baud);
    void StoreImage(const std::vector<uint8_t>& data);
    bool ProcessCommandBytes();
    bool ProcessTransferBytes();
    bool ProcessUploadBytes();
    void HandleFrame(const Vb27::Frame& frame);
    // Whether the board answers this frame in its present mode.
    bool Answers(const Vb27::Frame& frame) const;
    void HandleBadFrame(const Vb27::ParseResult& result);
    void HandleFrameDuringTransfer(const Vb27::Frame& frame);
    void HandleHandshake(const Vb27::Frame& frame);
    void HandleReset(const Vb27::Frame& frame);
    void HandleSwitchBaud(const Vb27::Frame& frame);
    void HandleImageCommand(const Vb27::Frame& frame);
    void HandleUpload(const Vb27::Frame& frame);
    bool CheckRegion(const Vb27::Frame& frame, uint32_t address, uint32_t length, uint32_t regionSize, uint32_t step);
    void StartTransfer(Mode mode, PendingImage image);
    void FinishTransfer();
    // The closing ACK will be negative: the image does not reach the flash.
    void FailToProgram();
    void FinishUpload();
    // key: the command answered, or a Tally key.
    void Answer(int key, uint8_t result, uint8_t detail);
    void Refuse(const Vb27::Frame& frame, Vb27::Refusal refusal, const std::string& problem);
    void SendRaw(const std::vector<uint8_t>& bytes);
    void Error(const std::string& text);
    void FlushSkipped();
    void TakeErrors(std::vector<std::string> errors, const std::string& context);

    BoardEnv m_env;
    bool m_qn4180;
    uint32_t m_romBaud;  // the boot ROM's rate, again after a reset
    size_t m_repeatedHandshakes = 0;
    Mode m_mode = Mode::ROM;
    std::vector<uint8_t> m_in;
    int64_t m_now = 0;
    int64_t m_lastByteMs = 0;
    int m_frames = 0;   // command frames seen, for --nak-frame
    bool m_wasReset = false;
    bool m_swallowC = false;  // the tool's receiver ends a read-back with ACK 'C'
    std::vector<uint8_t> m_skipped;
    size_t m_skippedCount = 0;
    bool m_silentNoted = false;
    PendingImage m_image;
    std::unique_ptr<YmodemReceiver> m_receiver;
    std::unique_ptr<YmodemSender> m_sender;
    // A read-back goes out in blocks of the size the tool's last transfer used.
    size_t m_uploadBlock = YmodemSender::DEFAULT_BLOCK_SIZE;
};

}  // namespace Sim
