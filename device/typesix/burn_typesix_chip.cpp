#include "device/typesix/burn_typesix_chip.h"

#include <new>

#include "common/common_util.h"
#include "common/file_helpers.h"
#include "platform/monotonic_clock.h"
#include "common/chip_family.h"
#include "common/fwpkg_format.h"
#include "device/typesix/typesix_frames.h"
#include "device/typesix/typesix_ser_cus_pro.h"
#include "device/typesix_chip_factory.h"

namespace {

constexpr unsigned long FRAME_TIME_OUT = 500;
constexpr unsigned long FRAME_TOTAL_TIMEOUT = 30000;
constexpr unsigned long FRAME_SEND_EARSE_TIMEOUT = 2000;
constexpr unsigned long SEND_ERASE_TIME_OUT = 180000;
constexpr unsigned long ERASE_TIME_OUT = 300000;

constexpr size_t MAX_FILE_COUNTS = 5;
constexpr size_t KEYSTORE_INDEX = 2;
constexpr size_t CERTIFICATE_INDEX = 3;
constexpr size_t SIGNATURE_INDEX = 4;

uint32_t ReadLe32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

std::unique_ptr<BurnChipBase> NewTypeSixChip()
{
    return std::unique_ptr<BurnChipBase>(new (std::nothrow) BurnTypeSixChip());
}

BurnTypeSixChip::BurnTypeSixChip() : m_link(*this) {}

BurnTypeSixChip::~BurnTypeSixChip()
{
    // The protocol may point at digests in the package buffer.
    m_downloadProtocol.reset();
}

void BurnTypeSixChip::SetOnlyBurnNames(const std::vector<std::string>& /*names*/) {}

std::vector<std::string> BurnTypeSixChip::GetOnlyBurnNames() const
{
    return {};
}

std::unique_ptr<TransportProtocolBase> BurnTypeSixChip::CreateDownloadProtocol()
{
    return std::unique_ptr<TransportProtocolBase>(new (std::nothrow) TypeSixSerCusPro(*this, m_link));
}

// --- frames --------------------------------------------------------------------------

bool BurnTypeSixChip::SendFrame(unsigned char* data, unsigned long length, unsigned long attemptTimeout,
                                unsigned long totalTimeout, bool /*unused*/)
{
    return m_link.SendCommand(std::vector<uint8_t>(data, data + length), attemptTimeout, totalTimeout);
}

bool BurnTypeSixChip::SendExitFrame()
{
    return m_link.SendUnanswered(TypeSixFrames::Exit(m_link.NextSequence()));
}

bool BurnTypeSixChip::Reset()
{
    return m_link.SendReset(TypeSixLink::ResetSequence::ZERO);
}

// --- handshake ---------------------------------------------------------------------------

bool BurnTypeSixChip::ShakeHand()
{
    using BoardText = TypeSixLink::BoardText;
    const uint32_t start = Common::GetTime();
    for (;;) {
        switch (m_link.AwaitBoardText(start, TypeSixLink::Listen::ROM_AND_SSB)) {
            case BoardText::ROM:
                SetProgress(0);
                return true;
            case BoardText::SSB:
                // An ssb still runs: erase it, and the ROM speaks again.
                if (!EraseSsb()) {
                    return false;
                }
                break;
            case BoardText::TIMED_OUT:
                m_report.Fail(Common::OutcomeKind::HANDSHAKE, "ready failed.\n");
                return false;
            case BoardText::STOPPED:
                return false;
        }
    }
}

bool BurnTypeSixChip::WaitSsbRunning()
{
    // ROM text means the board fell back to its ROM.
    return m_link.AwaitBoardText(Common::GetTime(), TypeSixLink::Listen::ROM_AND_SSB) == TypeSixLink::BoardText::SSB;
}

bool BurnTypeSixChip::EraseSsb()
{
    if (!m_link.SendCommand(TypeSixFrames::EraseSsbInit(), FRAME_TIME_OUT, FRAME_TOTAL_TIMEOUT)) {
        m_report.Fail(Common::OutcomeKind::TRANSFER, "erase init failed.\n");
        return false;
    }
    if (!m_link.SendCommand(TypeSixFrames::EraseSsb(), FRAME_SEND_EARSE_TIMEOUT, FRAME_TOTAL_TIMEOUT)) {
        m_report.Fail(Common::OutcomeKind::TRANSFER, "erase ssb failed.\n");
        return false;
    }
    if (!SendExitFrame()) {
        m_report.Fail(Common::OutcomeKind::TRANSFER, "send exit frame failed!\n");
        return false;
    }
    return true;
}

bool BurnTypeSixChip::InitBoard()
{
    m_link.RestartSequence();
    if (!m_link.SendCommand(TypeSixFrames::Init(m_link.NextSequence()), FRAME_TIME_OUT, FRAME_TOTAL_TIMEOUT)) {
        m_report.Fail(Common::OutcomeKind::TRANSFER, "send init cmd failed\n");
        return false;
    }
    if (!m_link.SendCommand(TypeSixFrames::ReadVersion(m_link.NextSequence()), FRAME_TIME_OUT, FRAME_TOTAL_TIMEOUT)) {
        m_report.Fail(Common::OutcomeKind::TRANSFER, "read version info failed.\n");
        return false;
    }
    return true;
}

// --- load list ------------------------------------------------------------------------------

bool BurnTypeSixChip::ReadWhole(const std::string& path, OwnedData& into)
{
    uint32_t size = 0;
    Common::FileBytes bytes = Common::GetFileData(path, size, GetThisPtr());
    if (!bytes) {
        return false;
    }
    into.bytes = std::move(bytes);
    into.length = size;
    return true;
}

bool BurnTypeSixChip::FilePrepare(const std::string& spec)
{
    const std::vector<std::string> fields = CommonUtil::Split(spec, '|');
    if (fields.size() < 2) {
        m_report.FailInfo(Common::OutcomeKind::FILE, "Invalid file format: %s\n", spec.c_str());
        return false;
    }
    // Security files of an earlier load must not go out with this one.
    m_keyStore = OwnedData();
    m_certificate = OwnedData();
    m_signature = OwnedData();
    if (!ReadWhole(fields[0], m_ssbBuffer)) {
        m_report.FailInfo(Common::OutcomeKind::FILE, "get ssb file content failed: %s\n", fields[0].c_str());
        return false;
    }
    m_ssb = {m_ssbBuffer.bytes.get(), m_ssbBuffer.length};
    if (!ReadWhole(fields[1], m_ssbDigestBuffer)) {
        m_report.FailInfo(Common::OutcomeKind::FILE, "get sha file content failed: %s\n", fields[1].c_str());
        return false;
    }
    m_ssbDigest = {m_ssbDigestBuffer.bytes.get(), m_ssbDigestBuffer.length};
    if (!SsbPacketCountFits(m_ssb.length, "ssb")) {
        return false;
    }
    if (fields.size() != MAX_FILE_COUNTS) {
        return true;
    }
    struct Optional {
        size_t index;
        OwnedData& into;
        const char* failure;
    };
    const Optional optionals[] = {
        {KEYSTORE_INDEX, m_keyStore, "get key store content failed: %s\n"},
        {CERTIFICATE_INDEX, m_certificate, "get certificate content failed: %s\n"},
        {SIGNATURE_INDEX, m_signature, "get signature content failed: %s\n"},
    };
    for (const Optional& optional : optionals) {
        const std::string& path = fields[optional.index];
        if (!path.empty() && !ReadWhole(path, optional.into)) {
            m_report.Fail(Common::OutcomeKind::FILE, Common::FormatInfo(optional.failure, path.c_str()));
            return false;
        }
    }
    return true;
}

// --- ssb load --------------------------------------------------------------------------------

bool BurnTypeSixChip::SsbPacketCountFits(uint32_t length, const char* what)
{
    const uint32_t packetSize = GetSettings().perPacketSize;
    if (packetSize < 1) {
        return true;  // refused where the packets are cut
    }
    const uint64_t packets = (static_cast<uint64_t>(length) + packetSize - 1) / packetSize;
    if (packets <= TypeSixFrames::MAX_SSB_PACKETS) {
        return true;
    }
    m_report.FailInfo(Common::OutcomeKind::PACKAGE_REFUSED,
                      "the %s of %u bytes needs %llu packets of %u bytes, but at most %u can be numbered.\n", what,
                      length, static_cast<unsigned long long>(packets), packetSize, TypeSixFrames::MAX_SSB_PACKETS);
    return false;
}

bool BurnTypeSixChip::SendSsbData(unsigned short number, const unsigned char* data, unsigned long length,
                                  bool /*last*/)
{
    // An empty packet could not be built: no frame goes out.
    return m_link.SendCommand(
        TypeSixFrames::SsbPacket(m_link.NextSequence(), number, data, length, GetSettings().perPacketSize), FRAME_TIME_OUT,
        FRAME_TOTAL_TIMEOUT);
}

bool BurnTypeSixChip::FsbWritePage(const uint8_t* data, uint32_t length)
{
    if (!SsbPacketCountFits(length, "ssb")) {
        return false;
    }
    const auto sendPacket = [this](uint32_t number, const uint8_t* packet, uint32_t size, bool last) {
        return SendSsbData(static_cast<unsigned short>(number), packet, size, last);
    };
    uint32_t sent = 0;
    switch (m_link.SendPackets(data, length, length, sent, sendPacket)) {
        case TypeSixLink::PacketRun::DONE:
            return true;
        case TypeSixLink::PacketRun::FAILED:
            m_report.Fail(Common::OutcomeKind::TRANSFER, "failed to send data packet.\n");
            return false;
        case TypeSixLink::PacketRun::CANCELLED:  // the cancel check has told the user
        case TypeSixLink::PacketRun::NO_PACKET_SIZE:
            return false;
    }
    return false;
}

bool BurnTypeSixChip::SendShaData(const uint8_t* digest, uint32_t length, uint32_t imageLength)
{
    return m_link.SendCommand(TypeSixFrames::SsbDigest(m_link.NextSequence(), imageLength, digest, length),
                              FRAME_TIME_OUT, FRAME_TOTAL_TIMEOUT);
}

bool BurnTypeSixChip::SendSecurityFrame(const std::vector<uint8_t>& payload, const char* what)
{
    if (payload.empty()) {
        m_report.FailInfo(Common::OutcomeKind::PACKAGE_REFUSED, "the %s is longer than %zu bytes.\n", what,
                          TypeSixFrames::MAX_SECURITY_DATA);
        return false;
    }
    return m_link.SendCommand(payload, FRAME_TIME_OUT, FRAME_TOTAL_TIMEOUT);
}

bool BurnTypeSixChip::SendKeyStoreData()
{
    return SendSecurityFrame(TypeSixFrames::KeyStore(m_link.NextSequence(), m_keyStore.bytes.get(), m_keyStore.length),
                             "key store");
}

bool BurnTypeSixChip::SendCertificateData()
{
    return SendSecurityFrame(
        TypeSixFrames::Certificate(m_link.NextSequence(), m_certificate.bytes.get(), m_certificate.length),
        "certificate");
}

bool BurnTypeSixChip::SendSignatureData()
{
    return SendSecurityFrame(
        TypeSixFrames::Signature(m_link.NextSequence(), m_signature.bytes.get(), m_signature.length), "signature");
}

bool BurnTypeSixChip::DownloadBootData()
{
    if (!FsbWritePage(m_ssb.data, m_ssb.length)) {
        m_report.Fail(Common::OutcomeKind::TRANSFER, "fsb write page failed\n");
        return false;
    }
    if (!SendShaData(m_ssbDigest.data, m_ssbDigest.length, m_ssb.length)) {
        m_report.Fail(Common::OutcomeKind::TRANSFER, "send sha data failed\n");
        return false;
    }
    if (m_keyStore.Present() && !SendKeyStoreData()) {
        m_report.Fail(Common::OutcomeKind::TRANSFER, "send keystore data failed\n");
        return false;
    }
    if (m_certificate.Present() && !SendCertificateData()) {
        m_report.Fail(Common::OutcomeKind::TRANSFER, "send certificate data failed\n");
        return false;
    }
    if (m_signature.Present() && !SendSignatureData()) {
        m_report.Fail(Common::OutcomeKind::TRANSFER, "send signature data failed\n");
        return false;
    }
    if (!SendExitFrame()) {
        m_report.Fail(Common::OutcomeKind::TRANSFER, "send exit frame failed!\n");
        return false;
    }
    if (!GetSettings().isReady && !WaitSsbRunning()) {
        m_report.Fail(Common::OutcomeKind::HANDSHAKE, "Ssb running failed\xEF\xBC\x8C" "codeloader not received!\n");
        return false;
    }
    Common::Print(Events(), "load ssb success.\n");
    return true;
}

bool BurnTypeSixChip::StartRomLoad(uint32_t length, const char* what)
{
    if (!SsbPacketCountFits(length, what)) {
        return false;
    }
    if (!ShakeHand()) {
        m_report.Fail(Common::OutcomeKind::HANDSHAKE, "shake hand failed!\n");
        return false;
    }
    if (!InitBoard()) {
        m_report.Fail(Common::OutcomeKind::TRANSFER, "init board failed!\n");
        return false;
    }
    return true;
}

bool BurnTypeSixChip::DownloadSsb()
{
    return StartRomLoad(m_ssb.length, "ssb") && DownloadBootData();
}

bool BurnTypeSixChip::DownloadSmallSsb()
{
    if (!StartRomLoad(m_smallSsb.length, "small ssb")) {
        return false;
    }
    if (!FsbWritePage(m_smallSsb.data, m_smallSsb.length)) {
        m_report.Fail(Common::OutcomeKind::TRANSFER, "fsb write page failed!\n");
        return false;
    }
    if (!SendShaData(m_smallSsbDigest.data, m_smallSsbDigest.length, m_smallSsb.length)) {
        m_report.Fail(Common::OutcomeKind::TRANSFER, "send sha data failed!\n");
        return false;
    }
    if (!SendExitFrame()) {
        m_report.Fail(Common::OutcomeKind::TRANSFER, "send exit frame failed!\n");
        return false;
    }
    Common::Print(Events(), "load small ssb success.\n");
    return true;
}

// --- erase all ----------------------------------------------------------------------------------

bool BurnTypeSixChip::EraseAllFlash()
{
    if (!WaitSsbRunning()) {
        return false;
    }
    Common::Print(Events(), "Erasing all images ...\nIt takes a few minutes.");
    m_link.RestartSequence();
    if (!m_link.SendCommand(TypeSixFrames::Init(m_link.NextSequence()), FRAME_TIME_OUT, FRAME_TOTAL_TIMEOUT)) {
        m_report.Fail(Common::OutcomeKind::TRANSFER, "Send init cmd failed");
        return false;
    }
    if (!m_link.SendCommand(TypeSixFrames::EraseAll(m_link.NextSequence()), SEND_ERASE_TIME_OUT, ERASE_TIME_OUT)) {
        m_report.Fail(Common::OutcomeKind::TRANSFER,
                          "The erasure failed. \nIt may be because the version does not support the full erase "
                          "function.\nPlease update the version.");
        return false;
    }
    return m_link.SendUnanswered(TypeSixFrames::EraseAllExit(m_link.NextSequence()));
}

// --- whole package -------------------------------------------------------------------------------

void BurnTypeSixChip::ForgetPackage()
{
    // Views into an earlier package must not outlive its buffer.
    m_downloadProtocol.reset();
    m_partitionList.clear();
    m_ssb = View();
    m_ssbDigest = View();
    m_smallSsb = View();
    m_smallSsbDigest = View();
    m_hasSmallSsbDigest = false;
    m_package = OwnedData();
}

bool BurnTypeSixChip::ParseFile(const char* path)
{
    const std::string file = path != nullptr ? path : "";
    OwnedData package;
    if (!ReadWhole(file, package)) {
        m_report.FailInfo(Common::OutcomeKind::FILE, "get file content failed: %s\n", file.c_str());
        return false;
    }
    if (package.length < sizeof(uint32_t)) {
        m_report.Fail(Common::OutcomeKind::PACKAGE_REFUSED, "error: memcpy_s failed.\n");
        return false;
    }
    const uint32_t flag = ReadLe32(package.bytes.get());
    ForgetPackage();
    m_package = std::move(package);
    if (flag == Common::FWPKG_FLAG_NORMAL) {
        return ParseNormalFwpkg(m_package.bytes.get(), m_package.length);
    }
    if (flag >= Common::FWPKG_FLAG_NEW_START && flag <= Common::FWPKG_FLAG_NEW_END_TYPESIX_CHIP) {
        return ParseNewFwpkg(m_package.bytes.get(), m_package.length);
    }
    m_report.FailInfo(Common::OutcomeKind::PACKAGE_REFUSED, "invalid flag value:%ld.\n", static_cast<long>(flag));
    return false;
}

bool BurnTypeSixChip::ParseNormalFwpkg(unsigned char* data, unsigned long length)
{
    return ParseFwpkg(data, length, false);
}

bool BurnTypeSixChip::ParseNewFwpkg(unsigned char* data, unsigned long length)
{
    return ParseFwpkg(data, length, true);
}

bool BurnTypeSixChip::ParseFwpkg(const uint8_t* data, unsigned long length, bool newLayout)
{
    Common::FwpkgTable table;
    const Common::FwpkgCheck check =
        Common::CheckFwpkgTable(data, length, length, Common::FWPKG_MAX_IMAGE_COUNT, table);
    switch (check) {
        case Common::FwpkgCheck::OK:
            break;
        case Common::FwpkgCheck::CRC_MISMATCH:
            m_report.FailInfo(Common::OutcomeKind::PACKAGE_REFUSED, "the calculated  crc:%d is not equal to fwpkg crc:%d.\n",
                              table.computedCrc, table.head.crc);
            return false;
        case Common::FwpkgCheck::ENTRY_PAST_END: {
            // Burning it would send whatever lies past the package as image bytes.
            if (table.badEntry >= table.entries.size()) {
                m_report.Fail(Common::OutcomeKind::PACKAGE_REFUSED, "an image reaches past the end of the package.\n");
                return false;
            }
            const Common::FileHead& bad = table.entries[table.badEntry];
            m_report.FailInfo(Common::OutcomeKind::PACKAGE_REFUSED,
                              "image %s reaches past the end of the package (offset %u, length %u, "
                              "package length %lu).\n",
                              bad.Name().c_str(), bad.offset, bad.length, length);
            return false;
        }
        case Common::FwpkgCheck::COUNT_INVALID:
        case Common::FwpkgCheck::TOO_MANY_IMAGES:
            m_report.Fail(Common::OutcomeKind::PACKAGE_REFUSED, newLayout ? "too many image or the header data length is greater than the file length!\n"
                                          : "too many image!\n");
            return false;
        default:
            m_report.Fail(Common::OutcomeKind::PACKAGE_REFUSED, newLayout ? "too many image or the header data length is greater than the file length!\n"
                                          : "the header data length is greater than the file length!\n");
            return false;
    }
    for (const Common::FileHead& entry : table.entries) {
        const uint8_t* image = data + entry.offset;
        switch (entry.type) {
            case Common::TYPESIX_IMAGE_SSB:
                m_ssb = {image, entry.length};
                break;
            case Common::TYPESIX_IMAGE_SSB_DIGEST:
                m_ssbDigest = {image, entry.length};
                break;
            case Common::TYPESIX_IMAGE_SMALL_SSB:
                m_smallSsb = {image, entry.length};
                break;
            case Common::TYPESIX_IMAGE_SMALL_SSB_DIGEST:
                m_smallSsbDigest = {image, entry.length};
                m_hasSmallSsbDigest = true;
                break;
            default:
                m_partitionList.push_back(
                    {entry.Name(), entry.length, entry.type, entry.burnAddress, entry.burnSize, image});
                break;
        }
    }
    return true;
}

bool BurnTypeSixChip::InitShaData(const std::string& name)
{
    if (!m_downloadProtocol) {
        return false;
    }
    for (const PartitionItem& item : m_partitionList) {
        if (item.imageType == Common::TYPESIX_IMAGE_DIGEST && name.find(item.name) != std::string::npos) {
            m_downloadProtocol->SetShaData(item.data, item.length);
            return true;
        }
    }
    return false;
}

bool BurnTypeSixChip::BurnPartitions()
{
    for (const PartitionItem& item : m_partitionList) {
        int fileType = 0;
        if (Common::TypeSixChipFileType(item.imageType, fileType)) {
            m_downloadProtocol->SetFileType(fileType);
        }
        if (item.imageType == Common::TYPESIX_IMAGE_FLASH || item.imageType == Common::TYPESIX_IMAGE_EMMC) {
            if (!InitShaData(item.name)) {
                m_report.FailInfo(Common::OutcomeKind::PACKAGE_REFUSED, "the sha256.bin file of file %s is not found.\n", item.name.c_str());
                return false;
            }
        } else {
            // Another image's digest must not go out with this one.
            m_downloadProtocol->SetShaData(nullptr, 0);
        }
        if (!m_downloadProtocol->DownloadData(item.data, item.length, item.burnAddress, item.burnSize)) {
            return false;
        }
        Common::PrintInfo(Events(), Common::NORMAL_INFO, "burn %s successfully.\n", item.name.c_str());
    }
    return true;
}

bool BurnTypeSixChip::DownloadAllinoneBin(const char* path, unsigned long /*address*/)
{
    if (!ParseFile(path)) {
        m_report.FailInfo(Common::OutcomeKind::PACKAGE_REFUSED, "parse file:%s failed!\n", path != nullptr ? path : "");
        return false;
    }
    // Refused before anything is sent, not after the small ssb went.
    if ((m_hasSmallSsbDigest && !SsbPacketCountFits(m_smallSsb.length, "small ssb")) ||
        !SsbPacketCountFits(m_ssb.length, "ssb")) {
        return false;
    }
    if (m_hasSmallSsbDigest && !DownloadSmallSsb()) {
        m_report.Fail(Common::OutcomeKind::TRANSFER, "load small ssb failed.\n");
        return false;
    }
    if (!DownloadSsb()) {
        m_report.Fail(Common::OutcomeKind::TRANSFER, "load ssb failed.\n");
        return false;
    }
    // The same protocol, and so the same image code, as a single image's download.
    m_downloadProtocol = CreateDownloadProtocol();
    if (!m_downloadProtocol) {
        m_report.Fail(Common::OutcomeKind::TRANSFER, "new download protocol failed.\n");
        return false;
    }
    const bool burned = BurnPartitions();
    m_downloadProtocol.reset();
    return burned;
}
