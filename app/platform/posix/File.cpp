#include "app/platform/File.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
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

std::vector<std::string> FilesInCurrentFolder() {
    std::vector<std::string> names;
    DIR* dir = ::opendir(".");
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        struct stat st {};
        if (::lstat(entry->d_name, &st) == 0 && S_ISREG(st.st_mode))
            names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    return names;
}

bool RemoveFile(const char* fileName) {
    return fileName && ::unlink(fileName) == 0;
}
