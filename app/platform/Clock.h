// Local time and sleeping; tests can set the clock (TestSeams.h).
#pragma once

#include <cstdint>
#include <functional>

struct SYSTEMTIME {
    std::uint16_t wYear;
    std::uint16_t wMonth;
    std::uint16_t wDayOfWeek;
    std::uint16_t wDay;
    std::uint16_t wHour;
    std::uint16_t wMinute;
    std::uint16_t wSecond;
    std::uint16_t wMilliseconds;
};

// The current local time, or what the test clock says while one is set.
void GetLocalTime(SYSTEMTIME* lpSystemTime);

// Milliseconds of a clock that only goes forward, whatever the local time does.
std::uint64_t GetTickCount64();

// Blocks the calling thread; the window keeps its ticks for afterwards.
void Sleep(std::uint32_t dwMilliseconds);
