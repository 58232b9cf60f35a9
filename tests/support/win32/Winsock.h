// What the Windows halves of the rigs share on Winsock: starting it, and sending and receiving
// with a deadline. Only for sources of a win32/ folder (it includes the system's headers).
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace testing_support::winsock {

using Clock = std::chrono::steady_clock;

// A socket as the rigs' headers keep it: -1 when there is none.
inline constexpr std::intptr_t kNone = -1;
inline SOCKET S(std::intptr_t s) {
    return static_cast<SOCKET>(s);
}
inline std::intptr_t Kept(SOCKET s) {
    return s == INVALID_SOCKET ? kNone : static_cast<std::intptr_t>(s);
}

void Start();
// Whether the socket has something to read (or an end) before the deadline.
bool WaitReadable(std::intptr_t s, Clock::time_point deadline);
bool SendAll(std::intptr_t s, const std::string& bytes);
// Reads until `count` bytes came, the peer closed or the deadline passed.
std::string ReceiveSome(std::intptr_t s, std::size_t count, Clock::time_point deadline);
// A client connected to 127.0.0.1:port with Nagle's delay off, or kNone.
std::intptr_t ConnectLoopback(std::uint16_t port);

} // namespace testing_support::winsock
