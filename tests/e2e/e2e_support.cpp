#include "e2e_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

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

void PutLe16(Bytes& bytes, size_t offset, uint16_t value)
{
    bytes[offset] = static_cast<uint8_t>(value);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

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

Bytes ExpectedResetFrame()
{
    Bytes frame{0xEF, 0xBE, 0xAD, 0xDE, 0x0C, 0x00, 0x87, 0x78, 0x00, 0x00};
    const uint16_t crc = Common::SopCrc16(frame.data(), static_cast<uint32_t>(frame.size()));
    frame.push_back(static_cast<uint8_t>(crc));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
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

namespace {

std::vector<char*> Argv(std::vector<std::string>& storage)
{
    std::vector<char*> argv;
    for (std::string& s : storage) {
        argv.push_back(s.data());
    }
    argv.push_back(nullptr);
    return argv;
}

double Seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

}  // namespace

RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments, int limitMs)
{
    RunResult result;
    std::vector<std::string> storage{program};
    storage.insert(storage.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv = Argv(storage);
    int fds[2];
    if (pipe(fds) != 0) {
        return result;
    }
    const auto started = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        dup2(fds[1], STDOUT_FILENO);
        dup2(fds[1], STDERR_FILENO);
        close(fds[0]);
        close(fds[1]);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(fds[1]);
    if (child < 0) {
        close(fds[0]);
        return result;
    }
    const auto deadline = started + std::chrono::milliseconds(limitMs);
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
    }
    close(fds[0]);
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    result.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    result.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    if (!killed && WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    }
    return result;
}

// --- report ---------------------------------------------------------------------

namespace {

// Just enough JSON for the report: objects, arrays, strings, numbers, literals.
struct Json {
    enum Kind { NUL, NUMBER, STRING, ARRAY, OBJECT, LITERAL } kind = NUL;
    std::string text;  // string value or number / literal text
    std::vector<Json> items;
    std::map<std::string, Json> members;

    const Json* Get(const std::string& key) const
    {
        const auto it = members.find(key);
        return it == members.end() ? nullptr : &it->second;
    }
    uint64_t Number() const { return std::strtoull(text.c_str(), nullptr, 10); }
};

class JsonReader {
public:
    explicit JsonReader(const std::string& text) : m_text(text) {}

    bool Read(Json& value)
    {
        Skip();
        if (m_at >= m_text.size()) {
            return false;
        }
        const char c = m_text[m_at];
        if (c == '{') {
            return ReadObject(value);
        }
        if (c == '[') {
            return ReadArray(value);
        }
        if (c == '"') {
            value.kind = Json::STRING;
            return ReadString(value.text);
        }
        const size_t start = m_at;
        while (m_at < m_text.size() && std::strchr(",]} \n\r\t", m_text[m_at]) == nullptr) {
            ++m_at;
        }
        value.text = m_text.substr(start, m_at - start);
        value.kind = (c == '-' || (c >= '0' && c <= '9')) ? Json::NUMBER : Json::LITERAL;
        return !value.text.empty();
    }

private:
    void Skip()
    {
        while (m_at < m_text.size() && std::strchr(" \n\r\t", m_text[m_at]) != nullptr) {
            ++m_at;
        }
    }
    bool Expect(char c)
    {
        Skip();
        if (m_at < m_text.size() && m_text[m_at] == c) {
            ++m_at;
            return true;
        }
        return false;
    }
    bool ReadString(std::string& out)
    {
        if (!Expect('"')) {
            return false;
        }
        while (m_at < m_text.size()) {
            const char c = m_text[m_at++];
            if (c == '"') {
                return true;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_at >= m_text.size()) {
                return false;
            }
            const char e = m_text[m_at++];
            if (e == 'u' && m_at + 4 <= m_text.size()) {
                out += static_cast<char>(std::strtoul(m_text.substr(m_at, 4).c_str(), nullptr, 16));
                m_at += 4;
            } else if (e == 'n') {
                out += '\n';
            } else if (e == 't') {
                out += '\t';
            } else {
                out += e;
            }
        }
        return false;
    }
    bool ReadArray(Json& value)
    {
        value.kind = Json::ARRAY;
        Expect('[');
        if (Expect(']')) {
            return true;
        }
        do {
            Json item;
            if (!Read(item)) {
                return false;
            }
            value.items.push_back(std::move(item));
        } while (Expect(','));
        return Expect(']');
    }
    bool ReadObject(Json& value)
    {
        value.kind = Json::OBJECT;
        Expect('{');
        if (Expect('}')) {
            return true;
        }
        do {
            std::string key;
            Skip();
            if (!ReadString(key) || !Expect(':')) {
                return false;
            }
            Json member;
            if (!Read(member)) {
                return false;
            }
            value.members[key] = std::move(member);
        } while (Expect(','));
        return Expect('}');
    }

    const std::string& m_text;
    size_t m_at = 0;
};

std::string Text(const Json& object, const char* key)
{
    const Json* v = object.Get(key);
    return v != nullptr ? v->text : std::string();
}

uint64_t Number(const Json& object, const char* key)
{
    const Json* v = object.Get(key);
    return v != nullptr ? v->Number() : 0;
}

std::string Serialise(const Json& value)
{
    if (value.kind != Json::OBJECT) {
        return value.text;
    }
    std::string out;
    for (const auto& member : value.members) {
        out += member.first + "=" + Serialise(member.second) + " ";
    }
    return out;
}

}  // namespace

SimReport ParseReport(const std::string& json)
{
    SimReport report;
    report.text = json;
    Json root;
    JsonReader reader(json);
    if (!reader.Read(root) || root.kind != Json::OBJECT) {
        return report;
    }
    if (const Json* images = root.Get("images")) {
        for (const Json& i : images->items) {
            report.images.push_back(SimImage{Text(i, "kind"), Text(i, "name"), Number(i, "address"),
                                             Number(i, "length"), Number(i, "regionSize"), Text(i, "sha256")});
        }
    }
    auto strings = [&root](const char* key, std::vector<std::string>& out) {
        if (const Json* list = root.Get(key)) {
            for (const Json& item : list->items) {
                out.push_back(Serialise(item));
            }
        }
    };
    strings("resets", report.resets);
    strings("protocolErrors", report.protocolErrors);
    strings("events", report.events);
    strings("erases", report.erases);
    if (const Json* bauds = root.Get("baudChanges")) {
        for (const Json& b : bauds->items) {
            report.baudChanges.push_back(b.Number());
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
    const std::string program = std::string(TARNWICK_BIN_DIR) + "/tarnwick-sim";
    std::vector<std::string> storage{program, "--family", family, "--report", m_reportPath, "--flash", m_flashPath};
    storage.insert(storage.end(), extra.begin(), extra.end());
    std::vector<char*> argv = Argv(storage);
    int fds[2];
    if (pipe(fds) != 0) {
        return;
    }
    const pid_t child = fork();
    if (child == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
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

RunResult Installation::Run(const std::vector<std::string>& arguments, int limitMs) const
{
    return RunProgram(Tool(), arguments, limitMs);
}

}  // namespace E2e
