// A throw-away installation directory for the settings readers: the context
// is built on it, so config/ and ChipProperties/ are the test's own files.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "settings/burn_context.h"
#include "support/test_files.h"

class InstallationDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_temp.Ok());
        std::filesystem::create_directories(m_dir + "config");
        std::filesystem::create_directories(m_dir + "ChipProperties");
    }

    // Writes bytes at a path relative to the installation and returns its full path.
    std::string Write(const std::string& relative, const std::string& bytes)
    {
        TestSupport::WriteText(m_dir + relative, bytes);
        return m_dir + relative;
    }

    std::unique_ptr<BurnInfo::BurnContext> NewContext() const
    {
        return std::make_unique<BurnInfo::BurnContext>(m_dir);
    }

    TestSupport::TempDir m_temp{"tarnwick-settings"};
    std::string m_dir = m_temp.Path() + "/";
};

// Runs call with standard output captured and returns what it printed.
template <typename Call>
std::string CaptureOutput(Call call)
{
    testing::internal::CaptureStdout();
    call();
    return testing::internal::GetCapturedStdout();
}
