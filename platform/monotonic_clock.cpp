#include "platform/monotonic_clock.h"

#include "platform/hot_path.h"

namespace Common {

HOT_PATH uint32_t GetTime()
{
    return static_cast<uint32_t>(static_cast<uint64_t>(Platform::MonotonicMs()) & 0xFFFFFFFFu);
}

} // namespace Common
