#include "app/platform/File.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

bool AppendToFile(const char* fileName, const char* data, std::size_t size) {
    if (!fileName)
        return false;
    int fd = ::open(fileName, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0)
        return false;
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    bool closed = ::close(fd) == 0;
    return closed && done == size;
}
