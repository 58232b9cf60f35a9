// A program run as a child process for tests (POSIX): its standard output and error read through
// pipes of their own, signals sent to it, its end awaited with a deadline. A child left running
// when the object goes is killed.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace testing_support {

class ChildProcess {
public:
    // Starts path (a bare name is looked for on PATH) with the arguments, in the current
    // directory; Started() tells whether it did.
    ChildProcess(const std::string& path, const std::vector<std::string>& args);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    void Signal(int sig);

    // Reads what comes until standard error (or output) holds text; false at the deadline or when
    // both pipes ended.
    bool WaitForError(const std::string& text, std::chrono::milliseconds within);
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds within);
    const std::string& Output() const { return out_; }
    const std::string& Error() const { return err_; }

    // Waits for the end: the exit status, 128 + the signal that ended it, or -1 at the deadline.
    // Whatever the pipes still hold is read.
    int WaitExit(std::chrono::milliseconds within);

private:
    // Reads from both pipes what comes within the time; false when neither is open any more.
    bool ReadSome(std::chrono::milliseconds within);
    bool WaitFor(const std::string& stream, const std::string& text,
                 std::chrono::milliseconds within);

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    std::string out_;
    std::string err_;
};

} // namespace testing_support
