// The serial side of the chip object: opening and re-configuring the port,
// board text between frames, the board frame exchange and text commands.
#include <chrono>
#include <cstring>
#include <new>
#include <string>
#include <thread>

#include "common/console.h"
#include "platform/monotonic_clock.h"
#include "common/secure_functions.h"
#include "device/boot_frames.h"
#include "device/burn_chip_base.h"
#include "device/default_serport_frame.h"
#include "platform/serial_port_list.h"

namespace {

constexpr uint32_t REOPEN_COM_SLEEP = 10;
constexpr unsigned long BOARD_FRAME_WINDOW = 500;
constexpr uint32_t BOARD_FRAME_TOTAL_WINDOW = 29999;
constexpr int MAX_UART_TEXT = 512;

struct FrameFrequency {
    unsigned int baud;
    uint32_t value;
};
constexpr FrameFrequency FRAME_FREQUENCY_TABLE[] = {
    {2400, 5000},   // BAUD_RATE_2400 / BAUD_RATE_2400_TIMEOUT
    {4800, 2500},   // BAUD_RATE_4800 / BAUD_RATE_4800_TIMEOUT
    {9600, 2000},   // BAUD_RATE_9600 / BAUD_RATE_9600_TIMEOUT
    {38400, 400},   // BAUD_RATE_38400 / BAUD_RATE_38400_TIMEOUT
    {57600, 300},   // BAUD_RATE_57600 / BAUD_RATE_57600_TIMEOUT
};
constexpr uint32_t DEFAULT_FRAME_FREQUENCY = 500;

Common::TRANSPORT_MODE_ATTR_U SerialAttributes(const char* name, unsigned int baud, int stopBit, int parity)
{
    Common::TRANSPORT_MODE_ATTR_U attr;
    attr.serial.portName = name == nullptr ? "" : name;
    attr.serial.baudRate = baud;
    attr.serial.stopBits = static_cast<uint32_t>(stopBit);
    attr.serial.parity = static_cast<uint32_t>(parity);
    return attr;
}

// True when the ";"-separated list already names exactly this port.
bool ListHasName(const char* list, const std::string& entry)
{
    for (const char* at = strstr(list, entry.c_str()); at != nullptr; at = strstr(at + 1, entry.c_str())) {
        if (at == list || at[-1] == ';') {
            return true;
        }
    }
    return false;
}

} // namespace

// --- opening and settings ---------------------------------------------------------

void BurnChipBase::AttachLine(std::unique_ptr<TransportTypeBase> line)
{
    m_frameFormat.reset();
    if (m_transport) {
        m_transport->Close();
    }
    m_transport = std::move(line);
}

int BurnChipBase::OpenSerialPort(const char* name, unsigned int baud, int stopBit, int parity)
{
    if (!m_transport) {
        Common::Print("new serport transport failed\n");
        return 0;
    }
    m_frameFormat.reset();
    m_transport->Close();
    if (OpenComm(name, baud, stopBit, parity) == 0) {
        return 0;
    }
    m_isSerialOpened = true;
    SetFrameFrequency(baud);
    // Text commands need the framing object; nothing else would create it.
    return NewFrameFormat();
}

int BurnChipBase::OpenComm(const char* name, unsigned int baud, int stopBit, int parity)
{
    m_curOperation = OPEN_SERIAL_COM;
    if (name == nullptr || !m_transport) {
        return 0;
    }
    // POSIX port names are device paths and may be longer than a COM name.
    return m_transport->Open(SerialAttributes(name, baud, stopBit, parity)) ? 1 : 0;
}

bool BurnChipBase::ReSettingSerialParameters(unsigned int baud, int stopBit, int parity)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(REOPEN_COM_SLEEP));
    LineSettings settings;
    settings.portName = m_transport ? m_transport->GetDeviceName() : std::string();
    settings.baudRate = baud;
    settings.stopBits = static_cast<uint32_t>(stopBit);
    settings.parity = static_cast<uint32_t>(parity);
    LineStatus status = m_transport ? m_transport->ApplyLineSettings(settings) : LineStatus::Fail("the port is not open");
    return ReportRateRefusal(baud, status);
}

bool BurnChipBase::CheckLineRate(unsigned int baud)
{
    LineStatus status = m_transport ? m_transport->CheckRate(baud) : LineStatus::Fail("the port is not open");
    return ReportRateRefusal(baud, status);
}

bool BurnChipBase::ReportRateRefusal(unsigned int baud, const LineStatus& status)
{
    if (status.Ok()) {
        return true;
    }
    const std::string port = m_transport ? m_transport->GetDeviceName() : std::string();
    const std::string reason = status.reason.empty() ? "refused" : status.reason;
    Common::PrintInfo(GetThisPtr(), Common::NORMAL_INFO, "error: the line %s cannot run at %u baud: %s.\n", port.c_str(),
                      baud, reason.c_str());
    return false;
}

void BurnChipBase::SetFrameFrequency(unsigned int baud)
{
    m_typeframeFrequency = DEFAULT_FRAME_FREQUENCY;
    for (const FrameFrequency& row : FRAME_FREQUENCY_TABLE) {
        if (row.baud == baud) {
            m_typeframeFrequency = row.value;
        }
    }
}

// --- the machine's serial ports ---------------------------------------------------

int BurnChipBase::InitSerialPortList(char* buffer, int size)
{
    if (buffer == nullptr || size <= 0) {
        return -1;
    }
    memset_s(buffer, static_cast<size_t>(size), 0, static_cast<size_t>(size));
    int count = 0;
    for (const std::string& path : SerialPortListSp::ListSerialPortPaths()) {
        count = GetUart(count, buffer, size, path.c_str());
    }
    if (count == 0) {
        return 0;
    }
    if (count > static_cast<int>(strlen(buffer))) {
        Common::Print("the length of num is greater than that of comName.\n");
        return -1;
    }
    buffer[count - 1] = '\0';  // no trailing separator
    return 0;
}

int BurnChipBase::GetUart(int count, char* buffer, int size, const char* name)
{
    if (buffer == nullptr || name == nullptr || count < 0 || count >= size) {
        return count;
    }
    char entry[MAX_UART_TEXT + 1] = {};
    const int length = sprintf_s(entry, sizeof(entry), "%s;", name);
    if (length <= 0 || ListHasName(buffer, entry)) {
        return count;
    }
    if (length < size - count) {
        memcpy_s(buffer + count, static_cast<size_t>(size - count), entry, static_cast<size_t>(length));
    }
    // A name that did not fit still counts, so the caller sees the list was cut.
    return count + length;
}

// --- the text framing object ------------------------------------------------------

bool BurnChipBase::InitBeforeBurn()
{
    return NewFrameFormat() != 0;
}

int BurnChipBase::NewFrameFormat()
{
    if (!m_isSerialOpened) {
        return 1;
    }
    std::unique_ptr<FrameFormatBase> frameFormat(new (std::nothrow) DefaultSerportFrameSp::DefaultSerportFrame());
    if (!frameFormat) {
        Common::Print("new frame format failed.\n");
        return 0;
    }
    frameFormat->SetTransport(this);
    m_frameFormat = std::move(frameFormat);
    return 1;
}

int BurnChipBase::SendCmd(unsigned char* cmd, unsigned long length, unsigned char* reply, int replySize,
                          int timeout)
{
    if (!m_frameFormat) {
        Common::Print("frame format object is null.\n");
        return 0;
    }
    return m_frameFormat->SendCmd(cmd, length, reply, replySize, timeout);
}

// --- board text ---------------------------------------------------------------------

void BurnChipBase::ClearRecvBuff()
{
    if (m_transport) {
        m_transport->OnAdataAvailable(m_recvText);
    }
}

void BurnChipBase::PrintCurRecv()
{
    std::string text = "\n";
    for (char c : m_recvText) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\n') {
            text += "\r\n";
        } else if (byte >= 0x20 && byte <= 0x7E) {
            text.push_back(c);
        }
    }
    if (text.back() != '\n') {
        text.push_back('\n');
    }
    Common::Print(text.c_str());
    m_recvText.clear();
}

int BurnChipBase::CheckAsciiTextPos(const unsigned char* buf, int length) const
{
    if (buf == nullptr) {
        return -1;
    }
    for (int i = 0; i < length; ++i) {
        if ((buf[i] >= 0x08 && buf[i] <= 0x0D) || (buf[i] >= 0x20 && buf[i] <= 0x7E)) {
            return i;
        }
    }
    return -1;
}

// --- board frame exchange -----------------------------------------------------------

void BurnChipBase::GetBoardFrameCmd(unsigned char* frame, int length) const
{
    if (frame == nullptr || length < static_cast<int>(Common::BOARD_FRAME_SEND_LENGTH)) {
        return;
    }
    auto built = BootFrame::BuildBoardFrame(Common::GetTime());
    std::copy(built.begin(), built.end(), frame);
}

int BurnChipBase::SendBoardFrame(unsigned long& a, unsigned long& b)
{
    m_curOperation = SEND_BOARD_FRAME;
    if (!m_transport) {
        return 0;
    }
    unsigned char frame[Common::BOARD_FRAME_SEND_LENGTH] = {};
    GetBoardFrameCmd(frame, sizeof(frame));
    m_transport->SetTimeout(BOARD_FRAME_WINDOW, BOARD_FRAME_WINDOW);
    unsigned char reply[Common::BOARD_FRAME_REPLY_LENGTH] = {};
    unsigned long count = 0;
    const uint32_t start = Common::GetTime();
    while (Common::GetTime() - start <= BOARD_FRAME_TOTAL_WINDOW) {
        if (CheckIsCancel() || LineLost()) {
            return 0;
        }
        if (m_transport->Send(frame, sizeof(frame)) < sizeof(frame)) {
            continue;
        }
        if (RecvFrame(BootFrame::BOARD_FRAME_FLAG, BOARD_FRAME_WINDOW, reply, sizeof(reply), count) != 0) {
            a = BootFrame::BoardReplyValueA(reply);
            b = BootFrame::BoardReplyValueB(reply);
            return 1;
        }
    }
    Common::Print("\nTimeout error.\n");
    return 0;
}

int BurnChipBase::RecvFrame(unsigned char flag, unsigned long timeout, unsigned char* buf, unsigned long length,
                            unsigned long& count)
{
    if (buf == nullptr || length == 0 || !m_transport) {
        return 0;
    }
    if (count > length) {
        count = 0;
    }
    const uint32_t start = Common::GetTime();
    do {
        const unsigned long got = m_transport->Receive(buf + count, length - count);
        if (got == 0) {
            continue;
        }
        count += got;
        const unsigned long received = count;
        unsigned long index = 0;
        FiltRecv(index, count, buf, flag, length);
        if (index >= received) {
            count = 0;
        } else if (count == length) {
            if (CheckRecvFrame(flag, buf, length, 1)) {
                return 1;
            }
            count = 0;
        }
    } while (WaitInWindow(start, timeout));
    return 0;
}

void BurnChipBase::FiltRecv(unsigned long& index, unsigned long& count, unsigned char* buf,
                            const unsigned char& flag, const unsigned long& length)
{
    index = 0;
    while (index < count && buf[index] != flag) {
        ++index;
    }
    if (index == 0 || index >= count) {
        return;
    }
    memmove_s(buf, length, buf + index, count - index);
    count -= index;
    if (m_transport && count < length) {
        count += m_transport->Receive(buf + count, length - count);
    }
}

bool BurnChipBase::CheckRecvFrame(unsigned char flag, unsigned char* buf, unsigned long length, int hasTail) const
{
    return BootFrame::CheckBoardReply(flag, buf, static_cast<uint32_t>(length), hasTail != 0);
}
