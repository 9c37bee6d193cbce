// What the companion programs (the simulator, the package tool and the like)
// share on their command lines: the number syntax of the settings files,
// -h/--help and -V/--version, and one answer to a wrong command line.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace CompanionCli {

constexpr int EXIT_OK = 0;
constexpr int EXIT_USAGE = 2;

// The release every program of the installation reports.
const char* Version();

// The whole text must be the number: "0x" hexadecimal, or decimal with an
// optional k, m or g multiplier (case does not matter). False for anything
// else, trailing characters and values past 64 bits included.
bool ParseNumber(const std::string& text, uint64_t& value);

// An option value in that syntax between low and high (inclusive); the value
// handed on to CLI11 is the decimal number.
CLI::Validator NumberIn(uint64_t low, uint64_t high);

// Help and version flags, and the last of a repeated option wins.
void Configure(CLI::App& app, const std::string& versionFlags = "-V,--version");

// Parses arguments (without the program name). Returns the exit code when the
// program is done: after the help or version text (0), or after one line naming
// the problem and a pointer to --help on err (2). Nothing when it should run.
std::optional<int> Parse(CLI::App& app, const std::vector<std::string>& arguments, std::ostream& out,
                         std::ostream& err);

}  // namespace CompanionCli
