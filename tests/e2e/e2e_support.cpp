#include "e2e_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/checksum.h"
#include "common/sha256_util.h"

namespace E2e {

namespace fs = std::filesystem;

// --- packages -------------------------------------------------------------------

void PutLe32(Bytes& bytes, size_t offset, uint32_t value)
{
    for (size_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

namespace {

void PutLe16(Bytes& bytes, size_t offset, uint16_t value)
{
    bytes[offset] = static_cast<uint8_t>(value);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

}  // namespace

void SealPackage(Bytes& package)
{
    const size_t count = static_cast<size_t>(package[OFFSET_COUNT]) | (static_cast<size_t>(package[OFFSET_COUNT + 1]) << 8);
    const size_t tableEnd = std::min(package.size(), HEADER_LENGTH + ENTRY_LENGTH * count);
    PutLe16(package, OFFSET_CRC,
            Common::SopCrc16(package.data() + OFFSET_COUNT, static_cast<uint32_t>(tableEnd - OFFSET_COUNT)));
}

Bytes BuildPackage(const std::vector<PackageEntry>& entries, uint32_t flag)
{
    const size_t tableEnd = HEADER_LENGTH + ENTRY_LENGTH * entries.size();
    size_t total = tableEnd;
    for (const PackageEntry& e : entries) {
        total += e.data.size();
    }
    Bytes package(total, 0);
    PutLe32(package, OFFSET_FLAG, flag);
    PutLe16(package, OFFSET_COUNT, static_cast<uint16_t>(entries.size()));
    size_t dataOffset = tableEnd;
    for (size_t i = 0; i < entries.size(); ++i) {
        const PackageEntry& e = entries[i];
        const size_t at = HEADER_LENGTH + ENTRY_LENGTH * i;
        std::memcpy(package.data() + at, e.name.data(), std::min(e.name.size(), NAME_LENGTH));
        PutLe32(package, at + ENTRY_OFFSET_OFFSET, static_cast<uint32_t>(dataOffset));
        PutLe32(package, at + ENTRY_OFFSET_LENGTH, static_cast<uint32_t>(e.data.size()));
        PutLe32(package, at + ENTRY_OFFSET_ADDRESS, e.burnAddress);
        PutLe32(package, at + ENTRY_OFFSET_SIZE, e.burnSize);
        PutLe32(package, at + ENTRY_OFFSET_TYPE, e.type);
        std::memcpy(package.data() + dataOffset, e.data.data(), e.data.size());
        dataOffset += e.data.size();
    }
    SealPackage(package);
    return package;
}

Bytes Pattern(size_t length, uint32_t seed)
{
    Bytes bytes(length);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < length; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = static_cast<uint8_t>(x);
    }
    return bytes;
}

std::string Hex(const Bytes& bytes)
{
    static const char DIGITS[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) {
        out += DIGITS[b >> 4];
        out += DIGITS[b & 0x0F];
    }
    return out;
}

std::string Sha256Hex(const Bytes& bytes)
{
    unsigned char digest[Sha256Util::DIGEST_LENGTH];
    Sha256Util::sha256(bytes.data(), bytes.size(), digest);
    return Hex(Bytes(digest, digest + Sha256Util::DIGEST_LENGTH));
}

// --- files ----------------------------------------------------------------------

bool WriteFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

size_t CountOf(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

// --- processes ------------------------------------------------------------------

pid_t Spawn(const std::vector<std::string>& argv, int outFd, bool withStderr)
{
    std::vector<std::string> storage = argv;
    std::vector<char*> pointers;
    for (std::string& s : storage) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int out = outFd >= 0 ? outFd : open("/dev/null", O_WRONLY);
        dup2(out, STDOUT_FILENO);
        if (withStderr) {
            dup2(out, STDERR_FILENO);
        }
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    return child;
}

RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments, int limitMs,
                     const SignalPlan* plan)
{
    RunResult result;
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return result;
    }
    const pid_t child = Spawn(argv, fds[1], true);
    close(fds[1]);
    if (child < 0) {
        close(fds[0]);
        return result;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    bool killed = false;
    char buffer[65536];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            kill(child, SIGKILL);
            killed = true;
            break;
        }
        pollfd fd{fds[0], POLLIN, 0};
        const int ready = poll(&fd, 1, static_cast<int>(std::min<long long>(left, 1000)));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready > 0) {
            const ssize_t got = read(fds[0], buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            result.output.append(buffer, static_cast<size_t>(got));
        }
        if (plan != nullptr && !result.signalled && Contains(result.output, plan->after)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(plan->delayMs));
            for (int number : plan->signals) {
                kill(child, number);
            }
            result.signalled = true;
            deadline = std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(plan->endLimitMs));
        }
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!killed && WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    }
    if (!killed && WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

std::vector<std::string> ToolArgs(const std::string& operation, const std::string& chip, const std::string& port,
                                  const std::string& package, const std::vector<std::string>& extra)
{
    std::vector<std::string> arguments{operation, "-n", chip, "-m", "serial", port, "-f", package};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

// --- report ---------------------------------------------------------------------

namespace {

// The value of "key" in a one-line object: a string without its quotes, or a number.
std::string Field(const std::string& object, const std::string& key)
{
    const std::string marker = "\"" + key + "\": ";
    size_t at = object.find(marker);
    if (at == std::string::npos) {
        return "";
    }
    at += marker.size();
    if (at < object.size() && object[at] == '"') {
        return object.substr(at + 1, object.find('"', at + 1) - at - 1);
    }
    return object.substr(at, object.find_first_of(",}", at) - at);
}

uint64_t Number(const std::string& text)
{
    return std::strtoull(text.c_str(), nullptr, 10);
}

}  // namespace

SimReport ParseReport(const std::string& text)
{
    SimReport report;
    report.text = text;
    std::istringstream in(text);
    std::string line;
    std::string section;
    while (std::getline(in, line)) {
        if (line.rfind("  \"", 0) == 0) {
            section = line.substr(3, line.find('"', 3) - 3);
            continue;
        }
        if (line.rfind("    ", 0) != 0) {
            continue;
        }
        std::string item = line.substr(4);
        if (!item.empty() && item.back() == ',') {
            item.pop_back();
        }
        const std::string unquoted = item.size() >= 2 && item[0] == '"' ? item.substr(1, item.size() - 2) : item;
        if (section == "images") {
            report.images.push_back(SimImage{Field(item, "kind"), Field(item, "name"), Number(Field(item, "address")),
                                             Number(Field(item, "length")), Number(Field(item, "regionSize")),
                                             Field(item, "sha256")});
        } else if (section == "baudChanges") {
            report.baudChanges.push_back(Number(item));
        } else if (section == "erases") {
            report.erases.push_back(item);
        } else if (section == "resets") {
            report.resets.push_back(unquoted);
        } else if (section == "protocolErrors") {
            report.protocolErrors.push_back(unquoted);
        } else if (section == "events") {
            report.events.push_back(unquoted);
        }
    }
    return report;
}

bool SimReport::HasEvent(const std::string& part) const
{
    for (const std::string& e : events) {
        if (Contains(e, part)) {
            return true;
        }
    }
    return false;
}

// --- the simulator ----------------------------------------------------------------

Simulator::Simulator(const std::string& dir, const std::string& family, const std::vector<std::string>& extra)
    : m_reportPath(dir + "sim-report.json"), m_flashPath(dir + "sim-flash.bin")
{
    std::vector<std::string> argv{std::string(TARNWICK_BIN_DIR) + "/tarnwick-sim", "--family", family, "--report",
                                  m_reportPath, "--flash", m_flashPath};
    argv.insert(argv.end(), extra.begin(), extra.end());
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return;
    }
    const pid_t child = Spawn(argv, fds[1], false);
    close(fds[1]);
    if (child < 0) {
        close(fds[0]);
        return;
    }
    m_pid = child;
    m_stdout = fds[0];
    // The first line is the path of the board's end of the pty.
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd fd{m_stdout, POLLIN, 0};
        if (poll(&fd, 1, 1000) <= 0) {
            continue;
        }
        char c = 0;
        if (read(m_stdout, &c, 1) != 1) {
            break;
        }
        if (c == '\n') {
            m_port = line;
            break;
        }
        line += c;
    }
}

Simulator::~Simulator()
{
    if (m_pid > 0) {
        Stop();
    }
}

SimReport Simulator::Stop()
{
    if (m_pid > 0) {
        int status = 0;
        // It ends by itself once the tool has reset the board and closed the line.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
        pid_t done = 0;
        while ((done = waitpid(m_pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
            usleep(20000);
        }
        if (done == 0) {
            kill(m_pid, SIGTERM);
            const auto hard = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while ((done = waitpid(m_pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < hard) {
                usleep(20000);
            }
            if (done == 0) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, &status, 0);
            }
        }
        m_pid = -1;
        close(m_stdout);
        m_stdout = -1;
    }
    const Bytes json = ReadFile(m_reportPath);
    return ParseReport(std::string(json.begin(), json.end()));
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

Installation::Installation()
{
    std::string pattern = (fs::temp_directory_path() / "tarnwick-e2e-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        return;
    }
    m_dir = pattern + "/";
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

Installation::~Installation()
{
    std::error_code ignored;
    if (!m_dir.empty()) {
        fs::remove_all(m_dir, ignored);
    }
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

RunResult Installation::Run(const std::vector<std::string>& arguments, int limitMs, const SignalPlan* plan) const
{
    return RunProgram(Tool(), arguments, limitMs, plan);
}

}  // namespace E2e
