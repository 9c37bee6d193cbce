// Stand-in until the TypeSix protocol exists: no protocol can be created, so
// every transfer on a TypeSix chip fails with "new boot download protocol
// failed.\n". Replace the body with the TypeSix protocol's construction.
#include "device/download_protocol_factory.h"

#include "transport/transport_protocol_base.h"

std::unique_ptr<TransportProtocolBase> CreateTypeSixDownloadProtocol(BurnChipBase* /*chip*/)
{
    return nullptr;
}
