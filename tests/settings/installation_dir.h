// A throw-away installation directory for the settings readers: the context
// is built on it, so config/ and ChipProperties/ are the test's own files.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "settings/burn_context.h"

class InstallationDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-settings-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern + "/";
        std::filesystem::create_directories(m_dir + "config");
        std::filesystem::create_directories(m_dir + "ChipProperties");
    }

    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }

    // Writes bytes at a path relative to the installation and returns its full path.
    std::string Write(const std::string& relative, const std::string& bytes)
    {
        const std::string path = m_dir + relative;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    std::unique_ptr<BurnInfo::BurnContext> NewContext() const
    {
        return std::make_unique<BurnInfo::BurnContext>(m_dir);
    }

    std::string m_dir;
};

// Runs call with standard output captured and returns what it printed.
template <typename Call>
std::string CaptureOutput(Call call)
{
    testing::internal::CaptureStdout();
    call();
    return testing::internal::GetCapturedStdout();
}
