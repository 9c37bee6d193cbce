// The YMODEM receiver as a read-back runs it: the input is everything the
// board sends, and the line is gone once it has all been taken. Whatever
// arrives, the receiver stays inside its buffers, the file never grows past
// the size asked for, and a frame is only taken with a good check.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "transport/ymodem_protocol.h"

namespace {

class ScriptedLine : public ChipLink {
public:
    ScriptedLine(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    unsigned long Send(const unsigned char*, unsigned long length) override { return length; }
    unsigned long Receive(unsigned char* buffer, unsigned long length) override
    {
        // Hand out the bytes in small, uneven pieces, as a serial line does.
        size_t n = std::min<size_t>({static_cast<size_t>(length), m_size - m_taken, 1 + (m_taken * 7) % 300});
        std::copy(m_data + m_taken, m_data + m_taken + n, buffer);
        m_taken += n;
        return static_cast<unsigned long>(n);
    }
    bool WaitForData(uint32_t) override { return m_taken < m_size; }
    bool CheckIsCancel() override { return false; }
    bool LineLost() override { return m_taken >= m_size; }
    Common::RunEvents& Events() override { return m_events; }
    void Fail(Common::OutcomeKind, std::string_view message) override { Common::Print(m_events, message); }

private:
    Common::CallbackEvents m_events;
    const uint8_t* m_data;
    size_t m_size;
    size_t m_taken = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzSupport::QuietConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3) {
        return 0;
    }
    // Byte 0: packet size setting; bytes 1..2: the size asked for.
    static constexpr int PACKET_SIZES[] = {0, 1024, 2048, 4096, 8192, 128, 100000};
    const int packetSize = PACKET_SIZES[data[0] % (sizeof(PACKET_SIZES) / sizeof(PACKET_SIZES[0]))];
    const uint32_t wanted = static_cast<uint32_t>(data[1]) << 6 | static_cast<uint32_t>(data[2]) >> 2;
    ScriptedLine line(data + 3, size - 3);
    YmodemProtocolSp::YmodemProtocol receiver(&line, packetSize);
    const std::string path = FuzzSupport::ScratchDir() + "upload.bin";
    std::error_code error;
    std::filesystem::remove(path, error);
    (void)receiver.UploadFile(path, wanted);
    const uintmax_t written = std::filesystem::file_size(path, error);
    if (!error && written > wanted) {
        __builtin_trap();
    }

    // The frame check alone, on the input as one frame of each head.
    std::vector<uint8_t> frame(data + 3, data + size);
    for (uint8_t head : {YmodemProtocolSp::YMODEM_SOH, YmodemProtocolSp::YMODEM_STX, YmodemProtocolSp::YMODEM_HEAD_8K}) {
        (void)receiver.CheckRecvData(frame.data(), static_cast<uint32_t>(frame.size()), head, data[1]);
    }
    (void)YmodemProtocolSp::GetYmodemDataSizeOfHead(data[0]);
    return 0;
}
