#include "device/typesix/typesix_ser_cus_pro.h"

#include <algorithm>
#include <cstring>

#include "common/common_util.h"
#include "platform/file_access.h"
#include "platform/monotonic_clock.h"
#include "common/file_helpers.h"
#include "device/burn_chip_base.h"
#include "device/typesix/typesix_frames.h"
#include "device/typesix/typesix_link.h"

namespace {

constexpr uint64_t MAX_IMAGE_FILE = 0xFFFFFFFFull;

bool IsOtherFileType(int fileType)
{
    return fileType == TypeSixFrames::FLASH_BIN_TYPE || fileType == TypeSixFrames::EMMC_BIN_TYPE ||
           fileType == TypeSixFrames::OTP_BIN_TYPE;
}

// Length of an image file that can be opened; false for one that cannot,
// or that is too long for the 32-bit lengths of the frames.
bool ImageFileLength(const std::string& path, uint32_t& length, ChipReport& report)
{
    FILE* file = nullptr;
    Common::OpenFile(file, path, "rb");
    if (file == nullptr) {
        return false;
    }
    const bool sought = Platform::SeekFile(file, 0, SEEK_END) == 0;
    const int64_t end = sought ? Platform::TellFile(file) : -1;
    Common::CloseFile(file);
    if (end < 0) {
        return false;
    }
    if (static_cast<uint64_t>(end) > MAX_IMAGE_FILE) {
        report.FailInfo(Common::OutcomeKind::FILE, "image file %s is 4 GiB or larger.\n", path.c_str());
        return false;
    }
    length = static_cast<uint32_t>(end);
    return true;
}

}  // namespace

TypeSixSerCusPro::TypeSixSerCusPro(BurnChipBase& chip, TypeSixLink& link)
    : TransportProtocolBase(&chip), m_burnChip(chip), m_link(link)
{
    m_link.RestartSequence();
}

bool TypeSixSerCusPro::Command(const std::vector<uint8_t>& payload, unsigned long answerWait, unsigned long totalWait)
{
    return m_link.SendCommand(payload, answerWait, totalWait);
}

// --- commands ----------------------------------------------------------------------------

bool TypeSixSerCusPro::Init()
{
    return Command(TypeSixFrames::Init(m_link.NextSequence()), FRAME_SEND_INIT_TIMEOUT, TOTAL_TIMEOUT);
}

bool TypeSixSerCusPro::SendAppShaData()
{
    return Command(TypeSixFrames::AppSha(m_link.NextSequence(), m_fileType, m_shaData, m_shaDataLength),
                   FRAME_TIME_OUT, TOTAL_TIMEOUT);
}

bool TypeSixSerCusPro::StartFlashing()
{
    return Command(TypeSixFrames::StartFlashing(m_link.NextSequence(), m_fileType), FRAME_TIME_OUT, TOTAL_TIMEOUT);
}

bool TypeSixSerCusPro::EndFlashingPage()
{
    return Command(TypeSixFrames::EndFlashingPage(m_link.NextSequence()), FRAME_TIME_OUT, TOTAL_TIMEOUT);
}

bool TypeSixSerCusPro::SetMemoryConfig(uint32_t length)
{
    return Command(TypeSixFrames::MemoryConfig(m_link.NextSequence(), m_fileType, length), FRAME_TIME_OUT,
                   TOTAL_TIMEOUT);
}

bool TypeSixSerCusPro::EraseCore(uint32_t size)
{
    const TypeSixFrames::Windows windows = TypeSixFrames::EraseCoreWindows(size);
    return Command(TypeSixFrames::EraseCore(m_link.NextSequence(), m_fileType), windows.attempt, windows.total);
}

bool TypeSixSerCusPro::SetSpeed()
{
    // The rate the user asked for; the ROM and the ssb load stay at the boot rate.
    return Command(TypeSixFrames::SetSpeed(m_link.NextSequence(), m_burnChip.GetTargetBaudRate()), FRAME_TIME_OUT,
                   TOTAL_TIMEOUT);
}

bool TypeSixSerCusPro::SetFlashLimits()
{
    return Command(TypeSixFrames::FlashLimits(m_link.NextSequence()), FRAME_TIME_OUT, TOTAL_TIMEOUT);
}

bool TypeSixSerCusPro::SetKvKey()
{
    return Command(TypeSixFrames::KvKey(m_link.NextSequence()), FRAME_TIME_OUT, TOTAL_TIMEOUT);
}

bool TypeSixSerCusPro::WriteBinHead(uint32_t address, uint32_t length)
{
    return Command(TypeSixFrames::BinHead(m_link.NextSequence(), m_fileType, address, length), ERASE_FRAME_TIMEOUT,
                   ERASE_TOTAL_TIMEOUT);
}

bool TypeSixSerCusPro::SendShaData(uint32_t address, uint32_t length)
{
    return Command(TypeSixFrames::Sha(m_link.NextSequence(), address, length, m_shaData, m_shaDataLength),
                   FRAME_TIME_OUT, TOTAL_TIMEOUT);
}

// --- preparation ---------------------------------------------------------------------------

bool TypeSixSerCusPro::Ready()
{
    if (m_link.AwaitBoardText(Common::GetTime(), TypeSixLink::Listen::SSB_ONLY) != TypeSixLink::BoardText::SSB) {
        return false;
    }
    m_burnChip.SetProgress(0);
    return true;
}

bool TypeSixSerCusPro::ReadyAndSetSpeed()
{
    const uint32_t rate = m_burnChip.GetTargetBaudRate();
    // Nothing is offered to the board that the line could not follow.
    if (!m_burnChip.CheckLineRate(rate)) {
        return false;
    }
    if (m_burnChip.GetSettings().isReady && !Ready()) {
        m_burnChip.Fail(Common::OutcomeKind::HANDSHAKE, "ready failed.\n");
        return false;
    }
    if (!Init()) {
        m_burnChip.Fail(Common::OutcomeKind::TRANSFER, "erase init failed.\n");
        return false;
    }
    if (!SetSpeed()) {
        m_burnChip.Fail(Common::OutcomeKind::TRANSFER, "set speed failed.\n");
        return false;
    }
    return m_burnChip.ReSettingSerialParameters(rate, static_cast<int>(m_burnChip.GetLineSettings().stopBits),
                                             static_cast<int>(m_burnChip.GetLineSettings().parity));
}

bool TypeSixSerCusPro::PreparingForDownload(uint32_t size)
{
    if (!ReadyAndSetSpeed()) {
        return false;
    }
    if (!SetFlashLimits()) {
        m_burnChip.Fail(Common::OutcomeKind::TRANSFER, "set flash limits failed.\n");
        return false;
    }
    if (!EraseCore(size)) {
        m_burnChip.Fail(Common::OutcomeKind::TRANSFER, "erase core failed.\n");
        return false;
    }
    if (!StartFlashing()) {
        m_burnChip.Fail(Common::OutcomeKind::TRANSFER, "start flashing failed.\n");
        return false;
    }
    return true;
}

bool TypeSixSerCusPro::Reset()
{
    return m_link.SendReset(TypeSixLink::ResetSequence::NEXT);
}

// --- image download ------------------------------------------------------------------------

void TypeSixSerCusPro::DropDigestOfThisCall()
{
    if (m_loadedSha) {
        SetShaData(nullptr, 0);
        m_loadedSha.reset();
    }
}

bool TypeSixSerCusPro::DownloadFile(const char* fileSpec, unsigned long address, unsigned long length)
{
    const bool downloaded = StartDownloadFile(fileSpec, address, length);
    DropDigestOfThisCall();
    // A reset would throw the board out of its ssb, so a caller that retries
    // (and turns the reset setting off) must find the ssb still running.
    if (!downloaded && m_burnChip.GetSettings().isReset) {
        Reset();
    }
    return downloaded;
}

bool TypeSixSerCusPro::StartDownloadFile(const char* fileSpec, unsigned long address, unsigned long length)
{
    const long long handle = m_burnChip.GetThisPtr();
    m_link.RestartSequence();
    const std::string spec = fileSpec != nullptr ? fileSpec : "";
    const std::vector<std::string> parts = CommonUtil::Split(spec, '|');
    std::string imagePath;
    if (parts.size() == NOT_SHA_SPLIT_SIZE) {
        imagePath = spec;
    } else if (parts.size() == HAS_SHA_SPLIT_SIZE) {
        imagePath = parts[0];
        uint32_t shaLength = 0;
        Common::FileBytes sha = Common::GetFileData(parts[1], shaLength, handle);
        if (!sha) {
            m_burnChip.Report().FailInfo(Common::OutcomeKind::FILE, "get sha file content failed: %s\n", parts[1].c_str());
            return false;
        }
        m_loadedSha = std::move(sha);
        SetShaData(m_loadedSha.get(), shaLength);
    } else {
        m_burnChip.Report().FailInfo(Common::OutcomeKind::FILE, "invalid file format: %s\n", spec.c_str());
        return false;
    }
    const auto address32 = static_cast<uint32_t>(address);
    const auto length32 = static_cast<uint32_t>(length);
    if (IsOtherFileType(m_fileType)) {
        return DownloadOtherFile(nullptr, imagePath, 0, address32, length32);
    }
    uint32_t imageLength = 0;
    Common::FileBytes image = Common::GetFileData(imagePath, imageLength, handle);
    if (!image) {
        m_burnChip.Report().FailInfo(Common::OutcomeKind::FILE, "get file content failed: %s\n", imagePath.c_str());
        return false;
    }
    return DownloadAppFile(image.get(), imageLength, length32);
}

bool TypeSixSerCusPro::DownloadData(const unsigned char* data, unsigned long dataLength, unsigned long address,
                                    unsigned long length)
{
    const auto dataLength32 = static_cast<uint32_t>(dataLength);
    if (m_fileType == TypeSixFrames::FLASH_BIN_TYPE || m_fileType == TypeSixFrames::EMMC_BIN_TYPE) {
        return DownloadOtherFile(data, std::string(), dataLength32, static_cast<uint32_t>(address),
                                 static_cast<uint32_t>(length));
    }
    return DownloadAppFile(data, dataLength32, static_cast<uint32_t>(length));
}

bool TypeSixSerCusPro::DownloadOtherFile(const uint8_t* data, const std::string& path, uint32_t dataLength,
                                         uint32_t address, uint32_t length)
{
    uint32_t fileLength = 0;
    // An image file that cannot be opened is a failure, found before the board is touched.
    if (data == nullptr && !ImageFileLength(path, fileLength, m_burnChip.Report())) {
        m_burnChip.Report().FailInfo(Common::OutcomeKind::FILE, "get file content failed: %s\n", path.c_str());
        return false;
    }
    if (!ReadyAndSetSpeed()) {
        return false;
    }
    if (!WriteBinHead(address, length)) {
        m_burnChip.Fail(Common::OutcomeKind::TRANSFER, "write bin head failed.\n");
        return false;
    }
    if (data != nullptr) {
        uint32_t sent = 0;
        if (!SendFileData(data, dataLength, dataLength, sent)) {
            Common::PrintInfo(m_burnChip.Events(), Common::DEBUG_INFO, "failed to send data.\n");
            return false;
        }
    } else if (!SendWholeFile(path, fileLength)) {
        Common::PrintInfo(m_burnChip.Events(), Common::DEBUG_INFO, "failed to send file.\n");
        return false;
    }
    if (!EndFlashingPage()) {
        m_burnChip.Fail(Common::OutcomeKind::TRANSFER, "end flashing page failed.\n");
        return false;
    }
    // An image from memory announces no length.
    if (!SendShaData(address, fileLength)) {
        m_burnChip.Fail(Common::OutcomeKind::TRANSFER, "send sha data failed.\n");
        return false;
    }
    if (m_burnChip.GetSettings().isReset && !Reset()) {
        m_burnChip.Fail(Common::OutcomeKind::TRANSFER, "reset failed.\n");
        return false;
    }
    return true;
}

bool TypeSixSerCusPro::DownloadAppFile(const uint8_t* data, uint32_t dataLength, uint32_t eraseSize)
{
    if (!PreparingForDownload(eraseSize)) {
        return false;
    }
    uint32_t sent = 0;
    if (!SendFileData(data, dataLength, dataLength, sent)) {
        return false;
    }
    if (!EndFlashingPage()) {
        m_burnChip.Fail(Common::OutcomeKind::TRANSFER, "end flashing page failed.\n");
        return false;
    }
    if (!SetMemoryConfig(dataLength)) {
        m_burnChip.Fail(Common::OutcomeKind::TRANSFER, "set memory config failed.\n");
        return false;
    }
    if (m_shaData != nullptr && m_shaDataLength != 0 && !SendAppShaData()) {
        m_burnChip.Fail(Common::OutcomeKind::TRANSFER, "send sha data failed.\n");
        return false;
    }
    if (!SetKvKey()) {
        m_burnChip.Fail(Common::OutcomeKind::TRANSFER, "set kv key failed.\n");
        return false;
    }
    if (m_burnChip.GetSettings().isReset && !Reset()) {
        m_burnChip.Fail(Common::OutcomeKind::TRANSFER, "reset failed.\n");
        return false;
    }
    return true;
}

bool TypeSixSerCusPro::SendWholeFile(const std::string& path, uint32_t length)
{
    const uint32_t packetSize = m_burnChip.GetSettings().perPacketSize;
    if (packetSize < 1) {
        return false;
    }
    // The largest multiple of the packet size not above SPILT_SIZE.
    const uint32_t pieceSize = std::max(packetSize * (SPILT_SIZE / packetSize), packetSize);
    const uint32_t pieces = static_cast<uint32_t>((static_cast<uint64_t>(length) + pieceSize - 1) / pieceSize);
    uint32_t sent = 0;
    uint32_t offset = 0;
    for (uint32_t piece = 0; piece < pieces; ++piece) {
        if (m_burnChip.CheckIsCancel()) {
            m_burnChip.Fail(Common::OutcomeKind::CANCELLED, "\n user cancelled!\n");
            return false;
        }
        const uint32_t rest = length % pieceSize;
        const uint32_t size = (piece + 1 == pieces && rest != 0) ? rest : pieceSize;
        Common::FileBytes bytes =
            Common::GetPartFileData(path, m_burnChip.GetThisPtr(), offset, size);
        if (!bytes) {
            m_burnChip.Report().FailInfo(Common::OutcomeKind::FILE, "get file content failed: %s\n",
                              path.c_str());
            return false;
        }
        if (!SendFileData(bytes.get(), size, length, sent)) {
            return false;
        }
        offset += size;
    }
    return true;
}

bool TypeSixSerCusPro::SendFileData(const uint8_t* data, uint32_t length, uint32_t total, uint32_t& sent)
{
    const auto sendPacket = [this](uint32_t /*number*/, const uint8_t* packet, uint32_t size, bool last) {
        return SendData(packet, size, last);
    };
    switch (m_link.SendPackets(data, length, total, sent, sendPacket)) {
        case TypeSixLink::PacketRun::DONE:
            return true;
        case TypeSixLink::PacketRun::CANCELLED:
            m_burnChip.Fail(Common::OutcomeKind::CANCELLED, "\n user cancelled!\n");
            return false;
        case TypeSixLink::PacketRun::FAILED:
            Common::PrintInfo(m_burnChip.Events(), Common::DEBUG_INFO, "failed to send data packet.\n");
            return false;
        case TypeSixLink::PacketRun::NO_PACKET_SIZE:
            return false;
    }
    return false;
}

bool TypeSixSerCusPro::SendData(const uint8_t* data, uint32_t chunk, bool /*last*/)
{
    const std::vector<uint8_t> payload =
        TypeSixFrames::Data(m_link.NextSequence(), data, chunk, m_burnChip.GetSettings().perPacketSize);
    if (payload.empty()) {
        m_burnChip.Fail(Common::OutcomeKind::TRANSFER, "memcpy_s failed\n");
        return false;
    }
    if (!Command(payload, FRAME_TIME_OUT, TOTAL_TIMEOUT)) {
        m_burnChip.Fail(Common::OutcomeKind::TRANSFER, "send frame failed.\n");
        return false;
    }
    return true;
}

// --- read-back --------------------------------------------------------------------------------

void TypeSixSerCusPro::InitDataRequestFrame(uint8_t* frame, uint32_t length, uint32_t address)
{
    const std::vector<uint8_t> payload = TypeSixFrames::DataRequest(m_link.NextSequence(), address, length);
    std::memcpy(frame, payload.data(), TypeSixFrames::DATA_REQUEST_CMD_LEN);
}

bool TypeSixSerCusPro::ParseRecvDataFrame(std::vector<uint8_t>& payload, const uint8_t* bytes, size_t count)
{
    return TypeSixFrames::UnwrapFirstFrame(bytes, count, payload);
}

int TypeSixSerCusPro::ParseRecvDataAndWriteFile(const uint8_t* bytes, size_t count, uint32_t expected, FILE* file)
{
    std::vector<uint8_t> payload;
    if (!ParseRecvDataFrame(payload, bytes, count)) {
        return 2;
    }
    TypeSixFrames::Answer answer;
    if (!TypeSixFrames::ReadAnswer(payload, answer)) {
        Common::PrintInfo(m_burnChip.Events(), Common::DEBUG_INFO, "answer of %zu bytes is too short.\n", payload.size());
        return 2;
    }
    if (answer.ack != TypeSixFrames::ACK_VALUE) {
        Common::PrintInfo(m_burnChip.Events(), Common::DEBUG_INFO, "ack error2: %d\n", answer.ack);
        return 2;
    }
    if (!answer.CheckMatches()) {
        Common::PrintInfo(m_burnChip.Events(), Common::DEBUG_INFO,
                          "the calculated  crc: %d is not equal to the received crc: %d.\n", answer.computedCheck,
                          answer.check);
        return 2;
    }
    if (answer.returnCode != TypeSixFrames::RETURN_CODE_VALUE) {
        Common::PrintInfo(m_burnChip.Events(), Common::DEBUG_INFO, "return code error: %d.\n", answer.returnCode);
        return 2;
    }
    if (answer.dataLength != expected) {
        Common::PrintInfo(m_burnChip.Events(), Common::DEBUG_INFO, "len error:%d. recv len:%d\n",
                          static_cast<int>(answer.dataLength), static_cast<int>(expected));
        return 2;
    }
    if (std::fwrite(answer.data, 1, expected, file) != expected) {
        Common::PrintInfo(m_burnChip.Events(), Common::DEBUG_INFO, "fwrite failed.\n");
        m_burnChip.Report().Note(Common::OutcomeKind::FILE, std::string_view());
        return 0;
    }
    return 1;
}

bool TypeSixSerCusPro::RecvDataAndWriteFile(uint32_t address, uint32_t length, FILE* file)
{
    uint8_t request[TypeSixFrames::DATA_REQUEST_CMD_LEN];
    InitDataRequestFrame(request, length, address);
    const auto examine = [this, length, file](const uint8_t* bytes, size_t count) {
        return ParseRecvDataAndWriteFile(bytes, count, length, file);
    };
    // What is pending now answers an earlier request; taken for this block it
    // would put the earlier block's bytes into the file.
    m_link.DiscardPending();
    switch (m_link.Exchange(std::vector<uint8_t>(std::begin(request), std::end(request)), READ_FRAME_TIMEOUT,
                            READ_TOTAL_TIMEOUT, examine)) {
        case TypeSixLink::Outcome::ACCEPTED:
            return true;
        case TypeSixLink::Outcome::REJECTED:
        case TypeSixLink::Outcome::ABORTED:
            return false;
        case TypeSixLink::Outcome::TIMED_OUT:
            break;
    }
    m_burnChip.Fail(Common::OutcomeKind::TRANSFER, "receive data timeout error.\n");
    return false;
}

bool TypeSixSerCusPro::UploadFile(const char* outputPath, int size, unsigned long address)
{
    const std::string path = outputPath != nullptr ? outputPath : "";
    if (size < 0) {
        m_burnChip.Report().FailInfo(Common::OutcomeKind::SETTINGS, "invalid read length: %d\n", size);
        return false;
    }
    if (!ReadyAndSetSpeed()) {
        return false;
    }
    FILE* file = nullptr;
    Common::OpenFile(file, path, "wb");
    if (file == nullptr) {
        m_burnChip.Report().FailInfo(Common::OutcomeKind::FILE, "fopen_s file failed: %s\n", path.c_str());
        return false;
    }
    m_burnChip.SetProgress(0);
    const auto total = static_cast<uint32_t>(size);
    auto blockAddress = static_cast<uint32_t>(address);
    uint32_t received = 0;
    for (;;) {
        if (received >= total) {
            Common::CloseFile(file);
            if (!Reset()) {
                m_burnChip.Fail(Common::OutcomeKind::TRANSFER, "reset failed.\n");
                return false;
            }
            return true;
        }
        if (m_burnChip.CheckIsCancel()) {
            Common::CloseFile(file);
            return false;
        }
        const uint32_t block = std::min(total - received, MAX_READ_BLOCK);
        if (!RecvDataAndWriteFile(blockAddress, block, file)) {
            m_burnChip.Fail(Common::OutcomeKind::TRANSFER, "failed to send data packet.\n");
            Common::CloseFile(file);
            return false;
        }
        Common::Print(m_burnChip.Events(), "#");
        received += block;
        blockAddress += block;
        m_burnChip.SetProgress(TypeSixLink::Percent(received, total));
    }
}
