// What the device tests share: a scripted board at the far end of a real
// pseudo-terminal (transport/scripted_board.h), the board's view of the wire
// formats (transport/wire_bytes.h), and the chip fixtures.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "device/burn_chip_base.h"
#include "device/device_library.h"
#include "transport/line_factory.h"
#include "support/fwpkg_builder.h"
#include "support/print_capture.h"
#include "support/test_files.h"
#include "transport/scripted_board.h"
#include "transport/wire_bytes.h"

using namespace TestSupport;
using namespace TestWire;

// --- chips on a scripted board ------------------------------------------------------

// The chip base needs a family for its two pure operations; nothing else changes.
class PlainChip : public BurnChipBase {
public:
    void SetOnlyBurnNames(const std::vector<std::string>& names) override { m_names = names; }
    std::vector<std::string> GetOnlyBurnNames() const override { return m_names; }

private:
    std::vector<std::string> m_names;
};

struct ChipOnLine {
    bool Open()
    {
        chip.AttachLine(NewLine(ParsePortName(board.SlavePath())));
        return board.Ok() && chip.OpenSerialPort(board.SlavePath().c_str(), 115200, 0, 0) == 1;
    }

    PtyBoard board;
    PlainChip chip;
};

// A chip whose port is open on a scripted board, with its messages captured.
class ChipOnPty : public ::testing::Test, protected ChipOnLine {
protected:
    void SetUp() override { ASSERT_TRUE(Open()); }

    PrintCapture messages;
};

// The library makes TypeSix chips while the chip type is set.
class TypeSixChip : public ::testing::Test {
protected:
    void SetUp() override { SetChipType(0x30002); }
    void TearDown() override { SetChipType(0); }

    TempDir dir;
    PrintCapture messages;
};

// Writes the file and gives its path back.
inline std::string Saved(const std::string& path, const Bytes& bytes)
{
    WriteFile(path, bytes);
    return path;
}
