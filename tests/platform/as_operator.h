// A look from an operator's side: a child process takes another user's
// identity with one group only (the way a freshly added operator runs), does
// one thing and hands its answer back through a pipe.
#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

// What `what` returned in a child running as uid with gid as its only group.
inline std::string AsOperator(uid_t uid, gid_t gid, const std::function<std::string()>& what)
{
    int fds[2];
    if (pipe(fds) != 0) {
        ADD_FAILURE() << "pipe";
        return "";
    }
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) {
            _exit(10);
        }
        const std::string answer = what();
        _exit(write(fds[1], answer.data(), answer.size()) == static_cast<ssize_t>(answer.size()) ? 0 : 11);
    }
    close(fds[1]);
    std::string answer;
    char buffer[512];
    for (ssize_t got; (got = read(fds[0], buffer, sizeof(buffer))) > 0;) {
        answer.append(buffer, static_cast<size_t>(got));
    }
    close(fds[0]);
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status << " (10: no identity)";
    return answer;
}
