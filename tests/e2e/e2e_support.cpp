#include "e2e_support.h"

#include <sys/stat.h>

#include <algorithm>
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

std::string FileState(const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return "missing";
    }
    return Sha256Hex(ReadFile(path)) + " " + std::to_string(info.st_size) + " " + std::to_string(info.st_mtim.tv_sec) +
           "." + std::to_string(info.st_mtim.tv_nsec);
}

}  // namespace

bool FlashHolds(const Bytes& flash, uint64_t address, const Bytes& data)
{
    return flash.size() >= address + data.size() &&
           std::equal(data.begin(), data.end(), flash.begin() + static_cast<long>(address));
}

bool IsErased(const Bytes& flash, size_t address, size_t length)
{
    const auto from = flash.begin() + static_cast<long>(std::min(address, flash.size()));
    return std::all_of(from, flash.begin() + static_cast<long>(std::min(address + length, flash.size())),
                       [](uint8_t b) { return b == 0xFF; });
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

E2eTest::E2eTest()
{
    const fs::path built(TARNWICK_BIN_DIR);
    std::error_code error;
    fs::create_directories(m_dir + "bin/config", error);
    fs::copy_file(built / "tarnwickcmd", m_dir + "bin/tarnwickcmd", error);
    if (!error) {
        fs::copy(built / "ChipProperties", m_dir + "bin/ChipProperties", fs::copy_options::recursive, error);
    }
    // Port and line come from the command line of each run.
    m_ready = !error && WriteFile(m_dir + "bin/config/burn.config", Bytes{});
}

std::string E2eTest::Given(const std::string& relative, const Bytes& bytes)
{
    const std::string path = m_dir + relative;
    EXPECT_TRUE(WriteFile(path, bytes)) << path;
    m_given[path] = FileState(path);
    return path;
}

BoardRun E2eTest::OnBoard(const std::string& operation, const std::string& family, const std::string& file,
                          const std::vector<std::string>& toolExtra, const std::vector<std::string>& simExtra,
                          int limitMs, const SignalPlan* plan)
{
    BoardRun out;
    Simulator sim(m_dir, family, simExtra);
    EXPECT_TRUE(sim.Started()) << "tarnwick-sim did not name its port";
    out.arguments = ToolArgs(operation, family, sim.Port(), file, toolExtra);
    out.run = RunProgram(Tool(), out.arguments, limitMs, {true, "", plan});
    EXPECT_TRUE(plan != nullptr || out.run.exitCode != -1) << "did not end within " << limitMs << " ms\n"
                                                           << out.run.output;
    out.report = sim.Stop();
    out.flash = sim.Flash();
    for (const auto& [path, state] : m_given) {
        EXPECT_EQ(FileState(path), state) << path << " changed during " << operation << " " << file;
    }
    return out;
}

}  // namespace E2e
