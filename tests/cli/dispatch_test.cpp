// An argument vector that the built tool cannot be given from a shell: a null
// one, or one without a program name, must give the usage and 1.
#include <gtest/gtest.h>

#include "cli/front_end.h"

namespace {

TEST(Dispatch, NullOrTooShortArgumentVectorsGiveUsageAndOne)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(FrontEnd::RunFrontEnd(0, nullptr), 1);
    char program[] = "tarnwickcmd";
    char* argv[] = {program, nullptr};
    EXPECT_EQ(FrontEnd::RunFrontEnd(0, argv), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("tarnwickcmd.exe --burn [-f filePath]", 0), 0u);
}

} // namespace
