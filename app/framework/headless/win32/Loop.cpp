// The headless loop's wait on Windows: WaitForMultipleObjects on a wake-up event, one
// WSAEventSelect event per watched socket and the watched kernel events (the serial layer's
// events are the system's own here). Sockets are ready as select() sees them, so that one still
// readable or writable after its call is called again, as poll() would.
#include "app/framework/headless/Loop.h"
#include "app/framework/Pace.h"

#include <winsock2.h>
// After Winsock's header, which must come first.
#include <windows.h>

#include <algorithm>

namespace afx::headless {
namespace {

using namespace std::chrono_literals;

// A socket's event is set only by the calls that re-enable its notices (a recv, a send that would
// block) and FD_CLOSE comes once: while a socket is watched, its state is read at least this
// often all the same.
constexpr auto kSocketRecheck = 100ms;
// A kernel event still set after its call is called again no sooner than this; a watched one
// gets a call at least this often (the framework's rule, Pace.h).
constexpr auto kHandleAgain = std::chrono::milliseconds(afx::NextEventCallMs(true));
constexpr auto kHandleAnyway = std::chrono::milliseconds(afx::NextEventCallMs(false));

// Readable (or writable) now; a hang-up counts as readable, a failed connect or a socket gone as
// ready either way.
bool SocketReady(std::intptr_t descriptor, bool writable) {
    const SOCKET s = static_cast<SOCKET>(descriptor);
    fd_set set;
    fd_set failed;
    FD_ZERO(&set);
    FD_ZERO(&failed);
    FD_SET(s, &set);
    FD_SET(s, &failed);
    timeval now{0, 0};
    return ::select(0, writable ? nullptr : &set, writable ? &set : nullptr, &failed, &now) != 0;
}

bool IsSet(void* handle) {
    return ::WaitForSingleObject(handle, 0) != WAIT_TIMEOUT;
}

} // namespace

struct Loop::Waiter {
    HANDLE wake = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::map<std::intptr_t, WSAEVENT> sockets; // the event of each watched socket
};

Loop::Loop() : m_waiter(std::make_unique<Waiter>()) {}

Loop::~Loop() {
    for (const auto& [socket, event] : m_waiter->sockets)
        ::WSACloseEvent(event);
    if (m_waiter->wake)
        ::CloseHandle(m_waiter->wake);
}

std::uint64_t Loop::WatchHandle(void* handle, Callback callback) {
    if (!handle)
        return 0;
    const std::uint64_t key = m_nextKey++;
    m_handles[key] = HandleWatch{handle, std::move(callback), Clock::now() - kHandleAgain};
    return key;
}

// One association per socket, for all its watches together; none once the last watch ended.
// Without an event the socket is still looked at every kSocketRecheck.
void Loop::Reselect(std::intptr_t descriptor) {
    long events = 0;
    for (const auto& [key, watch] : m_descriptors)
        if (watch.descriptor == descriptor)
            events |= watch.writable ? FD_WRITE | FD_CONNECT | FD_CLOSE : FD_READ | FD_CLOSE;
    const SOCKET s = static_cast<SOCKET>(descriptor);
    auto it = m_waiter->sockets.find(descriptor);
    if (events == 0) {
        if (it != m_waiter->sockets.end()) {
            ::WSAEventSelect(s, nullptr, 0);
            ::WSACloseEvent(it->second);
            m_waiter->sockets.erase(it);
        }
        return;
    }
    if (it == m_waiter->sockets.end()) {
        const WSAEVENT event = ::WSACreateEvent();
        if (event == WSA_INVALID_EVENT)
            return;
        it = m_waiter->sockets.emplace(descriptor, event).first;
    }
    ::WSAEventSelect(s, it->second, events);
}

void Loop::Wake() {
    ::SetEvent(m_waiter->wake);
}

std::vector<std::uint64_t> Loop::Wait(Clock::time_point deadline) {
    std::vector<std::uint64_t> ready;
    std::vector<HANDLE> handles{m_waiter->wake};
    std::vector<std::uint64_t> keys{0};

    // The sockets' events are reset before their state is read: a notice after the reading
    // wakes the wait.
    for (const auto& [socket, event] : m_waiter->sockets) {
        ::WSAResetEvent(event);
        handles.push_back(event);
        keys.push_back(0);
    }
    for (const auto& [key, watch] : m_descriptors)
        if (SocketReady(watch.descriptor, watch.writable))
            ready.push_back(key);
    const Clock::time_point now = Clock::now();
    if (!m_descriptors.empty())
        deadline = std::min(deadline, now + kSocketRecheck);
    for (const auto& [key, watch] : m_handles) {
        if (watch.called + kHandleAnyway <= now) {
            ready.push_back(key);
            continue;
        }
        deadline = std::min(deadline, watch.called + kHandleAnyway);
        if (watch.called + kHandleAgain > now) {
            deadline = std::min(deadline, watch.called + kHandleAgain);
            continue;
        }
        handles.push_back(watch.handle);
        keys.push_back(key);
    }
    // More than the system waits on at once never happens with one link; the rest would still
    // be looked at after each wait.
    const DWORD count =
        static_cast<DWORD>(std::min<std::size_t>(handles.size(), MAXIMUM_WAIT_OBJECTS));
    DWORD timeoutMs = 0;
    if (ready.empty()) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        timeoutMs = static_cast<DWORD>(std::clamp<std::int64_t>(wait.count(), 0, 60'000));
    }
    if (::WaitForMultipleObjects(count, handles.data(), FALSE, timeoutMs) == WAIT_TIMEOUT &&
        ready.empty())
        return ready;

    // Whatever ended the wait, everything not ready yet is looked at again.
    const auto known = [&ready](std::uint64_t key) {
        return std::find(ready.begin(), ready.end(), key) != ready.end();
    };
    for (const auto& [key, watch] : m_descriptors)
        if (!known(key) && SocketReady(watch.descriptor, watch.writable))
            ready.push_back(key);
    for (std::size_t i = 1; i < handles.size(); ++i)
        if (keys[i] != 0 && !known(keys[i]) && IsSet(handles[i]))
            ready.push_back(keys[i]);
    return ready;
}

} // namespace afx::headless
