// What the hint after a refused port tells a user, judged from the user's
// side: a child process takes the identity of user nobody (the way a freshly
// added operator runs) and asks for the hint on a device file whose group and
// mode the test sets.
#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

#include "as_operator.h"
#include "platform/port_access_hint.h"
#include "support/test_files.h"

namespace {

using TestSupport::Contains;

const gid_t UNLISTED_GID = 54321;  // a group no user is listed in

class PortAccessHintForAnOperator : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (getuid() != 0) {
            GTEST_SKIP() << "taking another user's identity needs root";
        }
        const passwd* nobody = getpwnam("nobody");
        if (nobody == nullptr) {
            GTEST_SKIP() << "no user nobody on this machine";
        }
        m_uid = nobody->pw_uid;
        m_loginGid = nobody->pw_gid;
        const group* loginGroup = getgrgid(m_loginGid);
        m_loginGroup = loginGroup != nullptr ? loginGroup->gr_name : std::to_string(m_loginGid);
        // The operator must reach the device through its directory.
        ASSERT_EQ(chmod(m_dir.Path().c_str(), 0755), 0);
        ASSERT_TRUE(TestSupport::WriteText(m_device, ""));
    }

    void Device(gid_t gid, mode_t mode)
    {
        ASSERT_EQ(chown(m_device.c_str(), 0, gid), 0);
        ASSERT_EQ(chmod(m_device.c_str(), mode), 0);
    }

    // The hint as user nobody sees it, running with group sessionGid only.
    std::string HintAsOperator(gid_t sessionGid, int error = EACCES)
    {
        return AsOperator(m_uid, sessionGid, [this, error] { return Platform::PortAccessHint(m_device, error); });
    }

    TestSupport::TempDir m_dir{"tarnwick-port"};
    const std::string m_device = m_dir.File("ttyUSB0");
    uid_t m_uid = 0;
    gid_t m_loginGid = 0;
    std::string m_loginGroup;
};

TEST_F(PortAccessHintForAnOperator, OutsideTheGroupIsToldToJoinTheGroupThatOwnsTheDeviceOnlyWhenRefused)
{
    Device(UNLISTED_GID, 0660);
    const std::string hint = HintAsOperator(m_loginGid);
    const std::string group = std::to_string(UNLISTED_GID);
    EXPECT_EQ(hint, "hint: permission denied on " + m_device + ": on Linux the user must be in group " + group +
                        ", which owns the device (sudo usermod -aG " + group + " $USER, then log in again).\n");
    EXPECT_EQ(HintAsOperator(m_loginGid, ENOENT), "");
    EXPECT_EQ(HintAsOperator(m_loginGid, EPERM), hint) << "a refused permission either way";
}

// usermod changed the user database, but the session keeps the groups of its
// login: joining again would not help, logging in again does.
TEST_F(PortAccessHintForAnOperator, ListedInTheGroupButNotInThisSessionIsToldToLogInAgain)
{
    Device(m_loginGid, 0660);
    EXPECT_EQ(HintAsOperator(UNLISTED_GID), "hint: permission denied on " + m_device + ": the user was added to " +
                                                "group " + m_loginGroup + ", which owns the device, but this session " +
                                                "started before: log in again (or run newgrp " + m_loginGroup + ").\n");
}

// A member is not sent to join the group: shown the mode when the group may
// not read and write, else told that something else refuses.
TEST_F(PortAccessHintForAnOperator, AMemberIsShownWhatRefusesBesidesTheGroup)
{
    const std::pair<mode_t, const char*> cases[] = {{0600, "the group may not read and write it (mode 0600)"},
                                                    {0640, "the group may not read and write it (mode 0640)"},
                                                    {0620, "the group may not read and write it (mode 0620)"},
                                                    {0660, "something else refuses it"}};
    for (const auto& [mode, reason] : cases) {
        Device(m_loginGid, mode);
        const std::string hint = HintAsOperator(m_loginGid);
        EXPECT_TRUE(Contains(hint, reason)) << hint;
        EXPECT_FALSE(Contains(hint, "usermod")) << hint;
    }
}

}  // namespace
