#include "e2e_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace E2e {

namespace fs = std::filesystem;

std::vector<std::string> ToolArgs(const std::string& operation, const std::string& chip, const std::string& port,
                                  const std::string& package, const std::vector<std::string>& extra)
{
    std::vector<std::string> arguments{operation, "-n", chip, "-m", "serial", port, "-f", package};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

// --- the simulator ----------------------------------------------------------------

Simulator::Simulator(const std::string& dir, const std::string& family, const std::vector<std::string>& extra)
    : m_reportPath(dir + "sim-report.json"), m_flashPath(dir + "sim-flash.bin"), m_process([&] {
          std::vector<std::string> args{"--family", family, "--report", m_reportPath, "--flash", m_flashPath};
          args.insert(args.end(), extra.begin(), extra.end());
          return args;
      }())
{
}

SimReport Simulator::Stop()
{
    // It ends by itself once the tool has reset the board and closed the line.
    m_process.Stop(500);
    return ReadSimReport(m_reportPath);
}

// --- what a Vb27 / Qn4180 board must have seen ---------------------------------------

namespace {

std::string Vb27Kind(uint32_t type)
{
    switch (type) {
    case TYPE_LOADER: return "loader";
    case TYPE_NV_KV: return "nv";
    case TYPE_OTP_EFUSE:
    case TYPE_EFUSE: return "otp";
    case TYPE_FACTORY: return "factory";
    case TYPE_VERSION: return "version";
    default: return "flash";
    }
}

bool GoesToFlash(uint32_t type)
{
    const std::string kind = Vb27Kind(type);
    return kind == "flash" || kind == "nv" || kind == "factory";
}

}  // namespace

std::vector<PackageEntry> Vb27Sent(const std::vector<PackageEntry>& entries)
{
    std::vector<PackageEntry> sent;
    for (const PackageEntry& e : entries) {
        if (e.type != TYPE_SKIPPED) {
            sent.push_back(e);
        }
    }
    return sent;
}

bool FlashHolds(const Bytes& flash, uint64_t address, const Bytes& data)
{
    return flash.size() >= address + data.size() &&
           std::equal(data.begin(), data.end(), flash.begin() + static_cast<long>(address));
}

bool IsErased(const Bytes& flash, size_t address, size_t length)
{
    for (size_t i = address; i < address + length && i < flash.size(); ++i) {
        if (flash[i] != 0xFF) {
            return false;
        }
    }
    return true;
}

void ExpectVb27Board(const SimReport& report, const Bytes& flash, const std::vector<PackageEntry>& sent)
{
    ASSERT_EQ(report.images.size(), sent.size()) << report.text;
    for (size_t i = 0; i < sent.size(); ++i) {
        const SimImage& got = report.images[i];
        const PackageEntry& e = sent[i];
        EXPECT_EQ(got.kind, Vb27Kind(e.type)) << e.name;
        EXPECT_EQ(got.name, e.name);
        EXPECT_EQ(got.length, e.data.size()) << e.name;
        EXPECT_EQ(got.sha256, Sha256Hex(e.data)) << e.name;
        if (GoesToFlash(e.type)) {
            EXPECT_EQ(got.address, e.burnAddress) << e.name;
            EXPECT_TRUE(FlashHolds(flash, e.burnAddress, e.data)) << e.name << " differs in flash";
        }
    }
    EXPECT_TRUE(report.protocolErrors.empty()) << report.text;
}

// --- the installation --------------------------------------------------------------

Installation::Installation() : m_temp("tarnwick-e2e"), m_dir(m_temp.Path() + "/")
{
    const fs::path built(TARNWICK_BIN_DIR);
    std::error_code error;
    fs::create_directories(m_dir + "bin/config", error);
    fs::copy_file(built / "tarnwickcmd", m_dir + "bin/tarnwickcmd", error);
    if (error) {
        return;
    }
    fs::copy(built / "ChipProperties", m_dir + "bin/ChipProperties", fs::copy_options::recursive, error);
    if (error) {
        return;
    }
    // Port and line come from the command line of each run.
    m_ready = WriteFile(m_dir + "bin/config/burn.config", Bytes{});
}

bool Installation::SetResetAtCommand(const std::string& chip, const std::string& command)
{
    const std::string path = m_dir + "bin/ChipProperties/" + chip + ".txt";
    const Bytes old = ReadFile(path);
    std::string text(old.begin(), old.end());
    std::string kept;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string line = text.substr(start, end - start);
        if (line.rfind("ResetAtCommand=", 0) != 0) {
            kept += line;
        }
        start = end;
    }
    if (!kept.empty() && kept.back() != '\n') {
        kept += '\n';
    }
    kept += "ResetAtCommand=" + command + "\n";
    return WriteFile(path, Bytes(kept.begin(), kept.end()));
}

}  // namespace E2e
