#include "serial/comm/linux/Errors.h"

#include <cerrno>

namespace comm {

std::uint32_t ErrnoToError(int err, ErrnoContext context) {
    switch (err) {
    case 0:
        return 0;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EISDIR:
    case ELOOP:
        return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
        return 3;
    case EACCES:
    case EPERM:
    case EBUSY:
    case EWOULDBLOCK:
        return 5;
    case EBADF:
        return 6;
    case EINVAL:
        return 87;
    case ENOTTY:
    case EOPNOTSUPP:
        // At open, a path that is no terminal simply is no port.
        return context == ErrnoContext::open ? 2 : 50;
    case ENOMEM:
        return 8;
    case EMFILE:
    case ENFILE:
        return 4;
    case EIO:
        // A device that is gone: at open it is not there, afterwards access is refused.
        return context == ErrnoContext::open ? 2 : 5;
    default:
        return 31;
    }
}

} // namespace comm
