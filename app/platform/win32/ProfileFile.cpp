// The profile writer's file operations on Windows. A replace writes a new file next to the old
// one and moves it over the old one (MoveFileEx with MOVEFILE_REPLACE_EXISTING), so a crash or a
// full disk leaves either the old content or the new.
#include "app/platform/System.h"

#include <atomic>

#include <windows.h>

namespace platform {
namespace {

bool WriteAll(HANDLE file, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        DWORD written = 0;
        const std::size_t left = data.size() - done;
        const DWORD chunk = static_cast<DWORD>(left > 0x40000000u ? 0x40000000u : left);
        if (!::WriteFile(file, data.data() + done, chunk, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

// A name next to the target that no other file has: the process id and a counter.
HANDLE CreateTempNextTo(const std::string& target, std::string& name) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = target + "." + std::to_string(::GetCurrentProcessId()) + "-" +
               std::to_string(counter.fetch_add(1)) + ".tmp";
        HANDLE file = ::CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS)
            return file;
    }
    return INVALID_HANDLE_VALUE;
}

} // namespace

std::string NativePath(const char* fileName) {
    return fileName ? fileName : "";
}

PathKind KindOf(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return PathKind::missing;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return PathKind::directory;
    return (attributes & FILE_ATTRIBUTE_DEVICE) ? PathKind::other : PathKind::regular;
}

std::optional<std::string> ReadRegularFile(const std::string& path) {
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        return std::nullopt;
    }
    std::string data;
    char buf[65536];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(file, buf, sizeof buf, &n, nullptr) || n == 0)
            break;
        data.append(buf, n);
    }
    ::CloseHandle(file);
    return data;
}

bool ReplaceFileContent(const std::string& path, const std::string& data) {
    const PathKind kind = KindOf(path);
    if (kind == PathKind::directory)
        return false;
    // A read-only settings file stays as it is (Wine would let the move replace it).
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return false;
    if (kind == PathKind::other) {
        HANDLE device = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (device == INVALID_HANDLE_VALUE)
            return false;
        const bool ok = WriteAll(device, data);
        return ::CloseHandle(device) != 0 && ok;
    }

    std::string temp;
    HANDLE file = CreateTempNextTo(path, temp);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = WriteAll(file, data) && ::FlushFileBuffers(file) != 0;
    ok = ::CloseHandle(file) != 0 && ok;
    if (ok && ::MoveFileExA(temp.c_str(), path.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0)
        return true;
    ::DeleteFileA(temp.c_str());
    return false;
}

} // namespace platform
