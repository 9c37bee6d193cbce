#include "platform/process_paths.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include <string>

TEST(ExecutableDirectory, EndsWithSlashAndHoldsThisTestBinary)
{
    const std::string dir = Platform::ExecutableDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.front(), '/');
    EXPECT_EQ(dir.back(), '/');

    struct stat self {};
    struct stat named {};
    ASSERT_EQ(stat("/proc/self/exe", &self), 0);
    ASSERT_EQ(stat((dir + "test_platform").c_str(), &named), 0);
    EXPECT_EQ(self.st_dev, named.st_dev);
    EXPECT_EQ(self.st_ino, named.st_ino);
}

TEST(ExecutableDirectory, DoesNotDependOnTheWorkingDirectory)
{
    const std::string before = Platform::ExecutableDirectory();
    char* cwd = getcwd(nullptr, 0);
    ASSERT_NE(cwd, nullptr);
    ASSERT_EQ(chdir("/"), 0);
    const std::string after = Platform::ExecutableDirectory();
    EXPECT_EQ(chdir(cwd), 0);
    free(cwd);
    EXPECT_EQ(before, after);
}
