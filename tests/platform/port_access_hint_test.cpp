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
#include <cstdio>
#include <string>

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
        char name[] = "/tmp/tarnwick-port-XXXXXX";
        const int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        close(fd);
        m_device = name;
    }
    void TearDown() override
    {
        if (!m_device.empty()) {
            std::remove(m_device.c_str());
        }
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

    std::string m_device;
    uid_t m_uid = 0;
    gid_t m_loginGid = 0;
    std::string m_loginGroup;
};

TEST_F(PortAccessHintForAnOperator, OutsideTheGroupIsToldToJoinTheGroupThatOwnsTheDeviceOnlyWhenRefused)
{
    Device(UNLISTED_GID, 0660);
    const std::string hint = HintAsOperator(m_loginGid);
    const std::string group = std::to_string(UNLISTED_GID);
    EXPECT_TRUE(Contains(hint, "hint: permission denied on " + m_device + ": ")) << hint;
    EXPECT_TRUE(Contains(hint, "must be in group " + group + ", which owns the device")) << hint;
    EXPECT_TRUE(Contains(hint, "sudo usermod -aG " + group + " $USER, then log in again")) << hint;
    EXPECT_EQ(hint.find('\n'), hint.size() - 1) << "one line";
    EXPECT_EQ(HintAsOperator(m_loginGid, ENOENT), "");
    EXPECT_EQ(HintAsOperator(m_loginGid, EPERM), hint) << "a refused permission either way";
}

// usermod changed the user database, but the session keeps the groups of its
// login: joining again would not help, logging in again does.
TEST_F(PortAccessHintForAnOperator, ListedInTheGroupButNotInThisSessionIsToldToLogInAgain)
{
    Device(m_loginGid, 0660);
    const std::string hint = HintAsOperator(UNLISTED_GID);
    EXPECT_TRUE(Contains(hint, "was added to group " + m_loginGroup + ", which owns the device")) << hint;
    EXPECT_TRUE(Contains(hint, "log in again (or run newgrp " + m_loginGroup + ")")) << hint;
    EXPECT_FALSE(Contains(hint, "usermod")) << hint;
}

// A member is not sent to join the group: shown the mode when the group may
// not read and write, else told that something else refuses.
TEST_F(PortAccessHintForAnOperator, AMemberIsShownWhatRefusesBesidesTheGroup)
{
    for (mode_t mode : {0600, 0640, 0620, 0660}) {
        Device(m_loginGid, mode);
        const std::string hint = HintAsOperator(m_loginGid);
        char text[8];
        std::snprintf(text, sizeof(text), "%04o", static_cast<unsigned>(mode));
        const std::string reason = mode == 0660 ? std::string("something else refuses it")
                                                : "the group may not read and write it (mode " + std::string(text) + ")";
        EXPECT_TRUE(Contains(hint, reason)) << hint;
        EXPECT_FALSE(Contains(hint, "usermod")) << hint;
    }
}

}  // namespace
