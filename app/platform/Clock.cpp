#include "app/platform/Clock.h"

#include <chrono>
#include <ctime>
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
    auto now = std::chrono::system_clock::now();
    std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    *lpSystemTime = SYSTEMTIME{
        static_cast<std::uint16_t>(tm.tm_year + 1900), static_cast<std::uint16_t>(tm.tm_mon + 1),
        static_cast<std::uint16_t>(tm.tm_wday),        static_cast<std::uint16_t>(tm.tm_mday),
        static_cast<std::uint16_t>(tm.tm_hour),        static_cast<std::uint16_t>(tm.tm_min),
        static_cast<std::uint16_t>(tm.tm_sec),         static_cast<std::uint16_t>(ms.count())};
}

void SetClockForTest(std::function<SYSTEMTIME()> clock) {
    std::lock_guard lock(g_clockMutex);
    g_testClock = std::move(clock);
}

void Sleep(std::uint32_t dwMilliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}
