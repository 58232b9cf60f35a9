// The comm layer's tests: opening a port by name for overlapped I/O.
#pragma once

#include "serial/comm/Comm.h"

namespace comm_test {

inline comm::HANDLE OpenPort(const char* name) {
    return comm::CreateFileA(name, comm::GENERIC_READ | comm::GENERIC_WRITE, 0, nullptr,
                             comm::OPEN_EXISTING, comm::FILE_FLAG_OVERLAPPED, nullptr);
}

} // namespace comm_test
