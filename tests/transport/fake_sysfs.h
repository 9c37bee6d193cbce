// A prepared sysfs/dev tree of the shape Linux exposes, for the port list.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/test_files.h"
#include "platform/serial_port_list.h"

namespace fs = std::filesystem;

class FakeSysfs : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.Ok());
        m_sources.ttyClassDir = (m_root / "sys/class/tty").string();
        m_sources.devDir = (m_root / "dev").string();
        m_sources.byIdDir = (m_root / "dev/serial/by-id").string();
        fs::create_directories(m_sources.ttyClassDir);
        fs::create_directories(m_sources.byIdDir);
        fs::create_directories(m_root / "sys/bus/drivers/uart");
    }

    static void WriteFile(const fs::path& path, const std::string& text)
    {
        TestSupport::WriteText(path.string(), text + "\n");
    }

    // A tty class entry linking to its device node under sys/devices, as sysfs does.
    fs::path AddTty(const std::string& name, const fs::path& deviceDir, bool withDriver = true,
                    bool withDevNode = true)
    {
        fs::path devicePath = m_root / "sys/devices" / deviceDir;
        fs::create_directories(devicePath);
        if (withDriver) {
            fs::create_symlink(m_root / "sys/bus/drivers/uart", devicePath / "driver");
        }
        fs::path entry = m_root / "sys/devices/tty-class" / name;
        fs::create_directories(entry);
        fs::create_symlink(devicePath, entry / "device");
        fs::create_directory_symlink(entry, fs::path(m_sources.ttyClassDir) / name);
        if (withDevNode) {
            WriteFile(fs::path(m_sources.devDir) / name, "");
        }
        return entry;
    }

    std::vector<std::string> Paths() const { return SerialPortListSp::ListSerialPortPaths(m_sources); }
    std::string Dev(const std::string& name) const { return (fs::path(m_sources.devDir) / name).string(); }

    TestSupport::TempDir m_dir{"tarnwick-ports"};
    const fs::path m_root = m_dir.Path();
    SerialPortListSp::SerialPortSources m_sources;
};
