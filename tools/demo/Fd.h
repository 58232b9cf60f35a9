// A descriptor the demo owns: closed when its owner goes or gives it another, never copied.
#pragma once

#include <unistd.h>

namespace demo {

class Fd {
public:
    Fd() = default;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { Reset(); }

    int Get() const { return m_fd; }
    bool Open() const { return m_fd >= 0; }
    // Closes the one held, and holds fd (-1: none).
    void Reset(int fd = -1) {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = fd;
    }
    // Closes the one held; where a call that makes a descriptor puts it.
    int* Place() {
        Reset();
        return &m_fd;
    }

private:
    int m_fd = -1;
};

} // namespace demo
