#include "support/OrdinaryUser.h"

#include <cerrno>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

bool RunAsOrdinaryUser(const std::function<bool()>& subject) {
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        if (geteuid() == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(kOrdinaryId) != 0 ||
                setuid(kOrdinaryId) != 0 || geteuid() == 0)
                _exit(2);
        }
        // _exit: the child must not run the parent's exit handlers (leak checks, test output).
        _exit(subject() ? 0 : 1);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace testing_support
