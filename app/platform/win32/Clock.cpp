// The platform services on Windows (clock, file, profile writer, Winsock). This file: the local
// time.
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
