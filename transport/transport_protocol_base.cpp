#include "transport/transport_protocol_base.h"

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
