#include "app/platform/Clock.h"

#include "app/platform/ClockHook.h"
#include "app/platform/System.h"

#include <chrono>
#include <mutex>
#include <thread>

namespace {
std::mutex g_clockMutex;
std::function<SYSTEMTIME()> g_testClock;
} // namespace

void GetLocalTime(SYSTEMTIME* lpSystemTime) {
    if (!lpSystemTime)
        return;
    {
        std::lock_guard lock(g_clockMutex);
        if (g_testClock) {
            *lpSystemTime = g_testClock();
            return;
        }
    }
    const platform::LocalTime now = platform::NowLocal();
    *lpSystemTime = SYSTEMTIME{now.year, now.month,  now.dayOfWeek, now.day,
                               now.hour, now.minute, now.second,    now.milliseconds};
}

void platform::SetClock(std::function<SYSTEMTIME()> clock) {
    std::lock_guard lock(g_clockMutex);
    g_testClock = std::move(clock);
}

void Sleep(std::uint32_t dwMilliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

std::uint64_t GetTickCount64() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}
