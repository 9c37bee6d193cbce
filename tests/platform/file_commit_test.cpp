// A staged file replaces its target only when committed; otherwise the target
// stays as it was and nothing is left beside it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_commit.h"
#include "support/test_files.h"

namespace {

class StagedFiles : public ::testing::Test {
protected:
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

    TestSupport::TempDir m_tmp{"tarnwick-staged"};
    const std::string m_dir = m_tmp.Path();
    const std::string m_target = m_dir + "/out.bin";
};

// The staged file left without a commit goes last: were its end a commit, the target would hold its bytes.
TEST_F(StagedFiles, OnlyACommitReplacesTheTargetAndNoStagedFileIsLeftBeside)
{
    const TestSupport::Bytes old = TestSupport::Pattern(100, 1);
    const TestSupport::Bytes fresh = TestSupport::Pattern(5000, 2);
    ASSERT_TRUE(TestSupport::WriteFile(m_target, old));
    {
        Platform::StagedFile abandoned(m_target);
        Platform::StagedFile staged(m_target);
        ASSERT_TRUE(abandoned.IsCreated() && staged.IsCreated()) << staged.Error();
        ASSERT_TRUE(TestSupport::WriteFile(abandoned.Path(), TestSupport::Pattern(10, 3)));
        ASSERT_TRUE(TestSupport::WriteFile(staged.Path(), fresh));
        EXPECT_EQ(Names().size(), 3u) << "both staged beside the target, apart";
        EXPECT_EQ(TestSupport::ReadFile(m_target), old);
        ASSERT_TRUE(staged.Commit()) << staged.Error();
        EXPECT_FALSE(staged.Commit());
    }
    EXPECT_EQ(TestSupport::ReadFile(m_target), fresh);
    EXPECT_EQ(Names(), std::vector<std::string>{"out.bin"});
}

TEST_F(StagedFiles, NoDirectoryMeansNoStagedFileAndNothingToCommit)
{
    Platform::StagedFile staged(m_dir + "/absent/out.bin");
    EXPECT_FALSE(staged.IsCreated());
    EXPECT_NE(staged.Error().find("No such file or directory"), std::string::npos) << staged.Error();
    EXPECT_FALSE(staged.Commit());
    EXPECT_FALSE(std::filesystem::exists(m_dir + "/absent"));
}

} // namespace
