// systemd's side of a service (its "notify" protocol and the journal's stream), spoken directly:
// one datagram to the AF_UNIX socket named in $NOTIFY_SOCKET per piece of news, and
// $JOURNAL_STREAM compared with what standard error is.
#include "app/service/Manager.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

// A decimal number that is the whole text and fits; nothing otherwise.
bool ParseNumber(const char* psz, unsigned long long& nValue) {
    if (psz == nullptr || *psz < '0' || *psz > '9')
        return false;
    char* pEnd = nullptr;
    errno = 0;
    nValue = std::strtoull(psz, &pEnd, 10);
    return errno == 0 && *pEnd == '\0';
}

} // namespace

bool manager::Notify(const std::string& strState) {
    const char* pszSocket = std::getenv("NOTIFY_SOCKET");
    if (pszSocket == nullptr || (pszSocket[0] != '/' && pszSocket[0] != '@'))
        return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::size_t nLength = std::strlen(pszSocket);
    if (nLength < 2 || nLength > sizeof(addr.sun_path) - 1)
        return false;
    std::memcpy(addr.sun_path, pszSocket, nLength);
    if (addr.sun_path[0] == '@')
        addr.sun_path[0] = '\0'; // the abstract namespace, named without a terminating zero
    const socklen_t nAddr =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + nLength + (pszSocket[0] == '/'));
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // Never waits: a manager that does not read its socket does not hold up the bridge.
    const ssize_t nSent =
        ::sendto(fd, strState.data(), strState.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                 reinterpret_cast<const sockaddr*>(&addr), nAddr);
    ::close(fd);
    return nSent == static_cast<ssize_t>(strState.size());
}

std::chrono::milliseconds manager::WatchdogPeriod() {
    unsigned long long nUsec = 0, nPid = 0;
    if (!ParseNumber(std::getenv("WATCHDOG_USEC"), nUsec) || nUsec == 0)
        return std::chrono::milliseconds(0);
    if (std::getenv("WATCHDOG_PID") != nullptr &&
        (!ParseNumber(std::getenv("WATCHDOG_PID"), nPid) ||
         nPid != static_cast<unsigned long long>(::getpid())))
        return std::chrono::milliseconds(0);
    // Half the allowed time, as the protocol asks; a day at most, a millisecond at least.
    const unsigned long long nMs = nUsec / 2000;
    return std::chrono::milliseconds(nMs < 1 ? 1 : nMs > 86'400'000 ? 86'400'000 : nMs);
}

bool manager::ErrorsGoToJournal() {
    const char* pszStream = std::getenv("JOURNAL_STREAM");
    if (pszStream == nullptr)
        return false;
    const std::string strStream = pszStream;
    const std::size_t nColon = strStream.find(':');
    unsigned long long nDev = 0, nIno = 0;
    if (nColon == std::string::npos || !ParseNumber(strStream.substr(0, nColon).c_str(), nDev) ||
        !ParseNumber(strStream.substr(nColon + 1).c_str(), nIno))
        return false;
    struct stat st {};
    return ::fstat(STDERR_FILENO, &st) == 0 && static_cast<unsigned long long>(st.st_dev) == nDev &&
           static_cast<unsigned long long>(st.st_ino) == nIno;
}
