// Answers of a TypeSix board: un-escaping the first frame, the command answer
// check (only an intact answer accepts or refuses), and a read-back answer
// written to a file only when it is whole.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "device/typesix/burn_typesix_chip.h"
#include "device/typesix/typesix_frames.h"
#include "device/typesix/typesix_link.h"
#include "device/typesix/typesix_ser_cus_pro.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzSupport::QuietConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) {
        return 0;
    }
    // Bytes 0..1: the block length the read-back asked for (up to 4096 + a bit).
    const uint32_t expected = (static_cast<uint32_t>(data[0]) << 8 | data[1]) % 4200;
    const std::vector<uint8_t> bytes(data + 2, data + size);
    static BurnTypeSixChip chip;
    static TypeSixLink link(chip);
    const int check = link.CheckRecvData(bytes.data(), bytes.size());
    if (check < TypeSixLink::ANSWER_REJECTED || check > TypeSixLink::ANSWER_GARBLED) {
        __builtin_trap();
    }
    std::vector<uint8_t> payload;
    const bool whole = TypeSixFrames::UnwrapFirstFrame(bytes.data(), bytes.size(), payload);
    if (whole && payload.size() > bytes.size()) {
        __builtin_trap();  // un-escaping only ever shrinks
    }
    // Only an intact answer can accept or refuse: a spoiled one is never a refusal.
    TypeSixFrames::Answer answer;
    const bool intact = whole && TypeSixFrames::ReadAnswer(payload, answer) && answer.CheckMatches();
    if ((check == TypeSixLink::ANSWER_ACCEPTED || check == TypeSixLink::ANSWER_REJECTED) && !intact) {
        __builtin_trap();
    }
    static FILE* sink = std::tmpfile();
    TypeSixSerCusPro protocol(chip, link);
    const long before = std::ftell(sink);
    const int result = protocol.ParseRecvDataAndWriteFile(bytes.data(), bytes.size(), expected, sink);
    const long after = std::ftell(sink);
    if ((result == 1 && after - before != static_cast<long>(expected)) || (result != 1 && after != before)) {
        __builtin_trap();  // a block goes to the file whole or not at all
    }
    std::rewind(sink);
    return 0;
}
