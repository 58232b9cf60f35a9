#include "support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

extern char** environ;

namespace testing_support {

ChildProcess::ChildProcess(const std::string& path, const std::vector<std::string>& args) {
    std::vector<std::string> all{path};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    if (posix_spawnp(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ) != 0)
        pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    outFd_ = out[0];
    errFd_ = err[0];
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (outFd_ >= 0)
        close(outFd_);
    if (errFd_ >= 0)
        close(errFd_);
}

void ChildProcess::Signal(int sig) {
    if (pid_ > 0)
        kill(pid_, sig);
}

bool ChildProcess::ReadSome(std::chrono::milliseconds within) {
    pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
    if (outFd_ < 0 && errFd_ < 0)
        return false;
    if (poll(fds, 2, static_cast<int>(within.count())) <= 0)
        return true;
    int* ends[2] = {&outFd_, &errFd_};
    std::string* texts[2] = {&out_, &err_};
    for (int i = 0; i < 2; ++i) {
        if (fds[i].revents == 0)
            continue;
        char buf[4096];
        const ssize_t n = read(*ends[i], buf, sizeof buf);
        if (n > 0) {
            texts[i]->append(buf, static_cast<std::size_t>(n));
        } else {
            close(*ends[i]);
            *ends[i] = -1;
        }
    }
    return true;
}

bool ChildProcess::WaitFor(const std::string& stream, const std::string& text,
                           std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (stream.find(text) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !ReadSome(left))
            return stream.find(text) != std::string::npos;
    }
    return true;
}

bool ChildProcess::WaitForError(const std::string& text, std::chrono::milliseconds within) {
    return WaitFor(err_, text, within);
}

bool ChildProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds within) {
    return WaitFor(out_, text, within);
}

int ChildProcess::WaitExit(std::chrono::milliseconds within) {
    if (pid_ <= 0)
        return -1;
    const auto deadline = std::chrono::steady_clock::now() + within;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        ReadSome(std::chrono::milliseconds(20));
    }
    pid_ = -1;
    // The pipes end with the child; a grandchild that keeps them open gets a second.
    for (int i = 0; i < 50 && (outFd_ >= 0 || errFd_ >= 0); ++i)
        ReadSome(std::chrono::milliseconds(20));
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace testing_support
