// The number syntax of every settings file and option.
#include <cstdint>
#include <string>

#include "common/common_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    bool ok = true;
    const int64_t value = CommonUtil::ConvertToNumber(text, &ok);
    int64_t tried = 0;
    if (CommonUtil::TryConvertToNumber(text, tried) != ok || (ok && tried != value) || (!ok && value != 0)) {
        __builtin_trap();  // the two entry points must agree
    }
    int narrow = 0;
    if (CommonUtil::TryConvertToInt32(text, narrow) && !ok) {
        __builtin_trap();  // a 32-bit setting is never read from an unreadable number
    }
    for (const std::string& piece : CommonUtil::Split(text, '=')) {
        (void)CommonUtil::Trim(piece);
    }
    return 0;
}
