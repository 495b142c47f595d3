// Unprivileged.h - runs a check in a child process without root's powers.
//
// Permission failures (a folder that takes no new file, a folder that cannot
// be listed) cannot be produced for root, who passes every permission check,
// and the tests run as root in the project's containers. RunUnprivileged
// forks; the child drops to the user "nobody" when it is root, runs the
// check and exits with its result. Files the check needs must be reachable
// by that user (MakeReachable opens a test folder for it).
#pragma once

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace testpriv {

// Exit code of a child that could not drop its privileges.
inline constexpr int kCannotDrop = 77;

struct Nobody {
    uid_t uid = 65534;
    gid_t gid = 65534;
};

inline Nobody NobodyUser() {
    Nobody n;
    if (const passwd* pw = getpwnam("nobody")) {
        n.uid = pw->pw_uid;
        n.gid = pw->pw_gid;
    }
    return n;
}

// Lets the unprivileged user into `dir` (read and search, not write).
inline void MakeReachable(const std::string& dir) {
    chmod(dir.c_str(), 0755);
}

// Gives `path` to the unprivileged user (when we are root).
inline void GiveAway(const std::string& path) {
    if (geteuid() == 0) {
        const Nobody n = NobodyUser();
        if (chown(path.c_str(), n.uid, n.gid) != 0) {
            // The check in the child will fail and say so.
        }
    }
}

// Runs `check` in a child without root's powers; returns its exit code, or
// -1 when the child died by a signal. kCannotDrop: privileges could not be
// dropped.
inline int RunUnprivileged(const std::function<int()>& check) {
    const pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        if (geteuid() == 0) {
            const Nobody n = NobodyUser();
            if (setgroups(0, nullptr) != 0 || setgid(n.gid) != 0 || setuid(n.uid) != 0)
                _exit(kCannotDrop);
        }
        _exit(check());
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

}  // namespace testpriv
