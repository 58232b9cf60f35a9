// Appends to the log on Windows: the file is opened for appending only, so every write lands at
// its end whoever else writes to it, and it is never cut.
#include "app/platform/File.h"

#include <windows.h>

bool AppendToFile(const char* fileName, const char* data, std::size_t size) {
    if (!fileName)
        return false;
    HANDLE file = ::CreateFileA(fileName, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    std::size_t done = 0;
    while (done < size) {
        const DWORD chunk =
            static_cast<DWORD>(size - done > 0x40000000u ? 0x40000000u : size - done);
        DWORD written = 0;
        if (!::WriteFile(file, data + done, chunk, &written, nullptr) || written == 0)
            break;
        done += written;
    }
    const bool closed = ::CloseHandle(file) != 0;
    return closed && done == size;
}

std::vector<std::string> FilesInCurrentFolder() {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found{};
    const HANDLE search = ::FindFirstFileA("*", &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
            0)
            names.emplace_back(found.cFileName);
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    return names;
}

bool RemoveFile(const char* fileName) {
    return fileName && ::DeleteFileA(fileName) != 0;
}
