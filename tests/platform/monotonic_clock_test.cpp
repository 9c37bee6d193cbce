// The clock every window is measured with, and where the installation is found.
#include "platform/monotonic_clock.h"
#include "platform/process_paths.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

TEST(MonotonicClock, NeverGoesBackwardsAdvancesAsFarAsASleepAndBothResolutionsAgree)
{
    int64_t lastMs = Platform::MonotonicMs();
    int64_t lastUs = Platform::MonotonicUs();
    for (int i = 0; i < 200000; ++i) {
        const int64_t ms = Platform::MonotonicMs();
        const int64_t us = Platform::MonotonicUs();
        ASSERT_GE(ms, lastMs);
        ASSERT_GE(us, lastUs);
        lastMs = ms;
        lastUs = us;
    }
    const int64_t startUs = Platform::MonotonicUs();
    const int64_t startMs = Platform::MonotonicMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const int64_t endMs = Platform::MonotonicMs();
    const int64_t endUs = Platform::MonotonicUs();
    EXPECT_GE(endMs - startMs, 30);
    EXPECT_GE(endUs - startUs, 30000);
    // Milliseconds taken between two microsecond readings lie between them.
    EXPECT_GE(startMs, startUs / 1000);
    EXPECT_LE(endMs, endUs / 1000);
}

TEST(ExecutableDirectory, HoldsThisTestBinaryWhateverTheWorkingDirectory)
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

    char* cwd = getcwd(nullptr, 0);
    ASSERT_NE(cwd, nullptr);
    ASSERT_EQ(chdir("/"), 0);
    const std::string fromRoot = Platform::ExecutableDirectory();
    EXPECT_EQ(chdir(cwd), 0);
    free(cwd);
    EXPECT_EQ(fromRoot, dir);
}
