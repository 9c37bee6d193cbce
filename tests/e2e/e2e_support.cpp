#include "e2e_support.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>

namespace E2e {

namespace fs = std::filesystem;

std::vector<std::string> ToolArgs(const std::string& operation, const std::string& chip, const std::string& port,
                                  const std::string& package, const std::vector<std::string>& extra)
{
    std::vector<std::string> arguments{operation, "-n", chip, "-m", "serial", port, "-f", package};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

std::vector<std::string> SimArgs(const std::string& dir, const std::string& family,
                                 const std::vector<std::string>& extra)
{
    std::vector<std::string> args{"--family", family, "--report", dir + "sim-report.json", "--flash",
                                  dir + "sim-flash.bin"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

namespace {

std::string Vb27Kind(uint32_t type)
{
    static const std::map<uint32_t, std::string> KINDS{{TYPE_LOADER, "loader"}, {TYPE_NV_KV, "nv"},
                                                       {TYPE_OTP_EFUSE, "otp"},  {TYPE_EFUSE, "otp"},
                                                       {TYPE_FACTORY, "factory"}, {TYPE_VERSION, "version"}};
    const auto kind = KINDS.find(type);
    return kind == KINDS.end() ? "flash" : kind->second;
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

void ExpectVb27Board(const SimReport& report, const Bytes& flash, const std::vector<PackageImage>& sent)
{
    const std::vector<std::string> images = report.List("images");
    ASSERT_EQ(images.size(), sent.size()) << report.text;
    for (size_t i = 0; i < sent.size(); ++i) {
        const PackageImage& e = sent[i];
        const std::string kind = Vb27Kind(e.type);
        EXPECT_EQ(Field(images[i], "kind"), kind) << e.name;
        EXPECT_EQ(Field(images[i], "name"), e.name);
        EXPECT_EQ(Field(images[i], "sha256"), Sha256Hex(e.data)) << e.name;
        if (kind == "flash" || kind == "nv" || kind == "factory") {
            EXPECT_EQ(Field(images[i], "address"), std::to_string(e.burnAddress)) << e.name;
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

void CollectBoard(SimProcess& sim, const std::string& dir, BoardRun& out)
{
    sim.Stop(500);
    out.report = ReadSimReport(dir + "sim-report.json");
    out.flash = ReadFile(dir + "sim-flash.bin");
}

BoardRun E2eTest::OnBoard(const std::string& operation, const std::string& family, const std::string& file,
                          const std::vector<std::string>& toolExtra, const std::vector<std::string>& simExtra,
                          int limitMs, const SignalPlan* plan)
{
    BoardRun out;
    SimProcess sim(SimArgs(m_dir, family, simExtra));
    EXPECT_TRUE(sim.Ok()) << "tarnwick-sim did not name its port";
    out.run = RunProgram(Tool(), ToolArgs(operation, family, sim.Port(), file, toolExtra), limitMs, {true, "", plan});
    EXPECT_TRUE(plan != nullptr || out.run.exitCode != -1) << "did not end within " << limitMs << " ms\n"
                                                           << out.run.output;
    CollectBoard(sim, m_dir, out);
    for (const auto& [path, state] : m_given) {
        EXPECT_EQ(FileState(path), state) << path << " changed during " << operation << " " << file;
    }
    return out;
}

BoardRun E2eTest::Reported(const std::string& family, const std::vector<PackageImage>& package,
                           std::vector<std::string> toolExtra, const std::vector<std::string>& simExtra,
                           int limitMs, const SignalPlan* plan)
{
    const std::string report = Path("run.json");
    toolExtra.insert(toolExtra.begin(), "-report:" + report);
    BoardRun out = OnBoard("--burn", family, Given("fw.fwpkg", BuildPackage(package)), toolExtra, simExtra,
                           limitMs, plan);
    EXPECT_FALSE(fs::exists(report + ".tmp")) << "the temporary file stays behind";
    m_report = ReadJson(report);
    EXPECT_TRUE(m_report.is_object()) << out.run.output;
    if (!m_report.is_object()) {
        m_report = nlohmann::json::object();
    }
    return out;
}

}  // namespace E2e
