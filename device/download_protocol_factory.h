// Creation of the file-transfer protocol of the TypeSix family (chip type
// 0x30002). It is declared here and defined by the TypeSix code, so the chip
// base does not depend on the family's protocol class.
#pragma once

#include <memory>

class BurnChipBase;
class TransportProtocolBase;

// The family's protocol bound to chip; null when it cannot be created.
std::unique_ptr<TransportProtocolBase> CreateTypeSixDownloadProtocol(BurnChipBase* chip);
