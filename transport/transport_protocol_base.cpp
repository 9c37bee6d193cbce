#include "transport/transport_protocol_base.h"

#include <cstring>
#include <vector>

#include "common/console.h"

namespace {
constexpr int BOOT_COMMAND_REPLY_SIZE = 8192;
}  // namespace

bool TransportProtocolBase::DownloadFileToDdr(const unsigned char*, unsigned long, unsigned long, const char*)
{
    return true;
}

bool TransportProtocolBase::DownloadFile(const char*, unsigned long, unsigned long)
{
    return true;
}

bool TransportProtocolBase::DownloadData(const unsigned char*, unsigned long, unsigned long, unsigned long)
{
    return true;
}

bool TransportProtocolBase::UploadFile(const char*, int, unsigned long)
{
    return true;
}

bool TransportProtocolBase::EraseFlash(unsigned long, unsigned long)
{
    return true;
}

bool TransportProtocolBase::DownloadDataToDdr(unsigned long, const char*)
{
    return true;
}

bool TransportProtocolBase::SendData(unsigned long, unsigned long, const unsigned char*)
{
    return true;
}

bool TransportProtocolBase::SendBootCommand(const char* command, int timeoutMs)
{
    if (m_chip == nullptr || command == nullptr) {
        return false;
    }
    Common::PrintInfo(m_chip->GetThisPtr(), Common::NORMAL_INFO, "\nSend command: %s\n", command);
    // SendCmd takes a mutable buffer; the caller's text stays untouched.
    std::vector<unsigned char> text(command, command + std::strlen(command));
    std::vector<unsigned char> reply(BOOT_COMMAND_REPLY_SIZE, 0);
    return m_chip->SendCmd(text.data(), static_cast<unsigned long>(text.size()), reply.data(),
                           BOOT_COMMAND_REPLY_SIZE, timeoutMs) != 0;
}
