// The local time on Windows.
#include "app/platform/System.h"

#include <windows.h>

namespace platform {

LocalTime NowLocal() {
    ::SYSTEMTIME st{};
    ::GetLocalTime(&st);
    return LocalTime{st.wYear, st.wMonth,  st.wDayOfWeek, st.wDay,
                     st.wHour, st.wMinute, st.wSecond,    st.wMilliseconds};
}

} // namespace platform
