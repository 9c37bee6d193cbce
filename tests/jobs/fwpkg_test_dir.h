// A scratch directory per test for package files and extract directories.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

class FwpkgScratch : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = ::testing::TempDir() + "fwpkg_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const
    {
        std::string path = m_dir + name;
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    static std::vector<uint8_t> Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // Every regular file below the scratch directory's parent that this test made.
    std::vector<std::string> FilesUnder(const std::string& dir) const
    {
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
            if (entry.is_regular_file()) {
                files.push_back(entry.path().lexically_relative(dir).string());
            }
        }
        std::sort(files.begin(), files.end());
        return files;
    }

    std::string m_dir;
};
