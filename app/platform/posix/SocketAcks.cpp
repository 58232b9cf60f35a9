// What the peer acknowledged of a connection's stream, from the kernel's own count, which stays
// readable after the connection failed (the send queue does not: a reset or a time-out empties it).
// A file of its own: the kernel's header of the TCP records clashes with the C library's.
#include "app/platform/Socket.h"

#include <cstddef>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace sock {

std::int64_t acknowledged(SOCKET s) {
    if (s < 0)
        return -1;
    tcp_info info{};
    socklen_t len = sizeof info;
    if (::getsockopt(s, IPPROTO_TCP, TCP_INFO, &info, &len) != 0 ||
        len < offsetof(tcp_info, tcpi_bytes_acked) + sizeof info.tcpi_bytes_acked)
        return -1;
    // The count includes the SYN, which takes one number of the sequence: the stream's bytes
    // are one fewer (none before the connection was set up).
    return info.tcpi_bytes_acked > 0 ? static_cast<std::int64_t>(info.tcpi_bytes_acked) - 1 : 0;
}

} // namespace sock
