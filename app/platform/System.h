// What each backend of this folder (posix/, win32/) gives the shared code beside it: the local
// time and the file operations of the profile writer. Plain types only, so that a backend file can
// include this next to its system's headers, whose names (SYSTEMTIME, GetPrivateProfileIntA)
// clash with the stand-ins' own headers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

struct LocalTime {
    std::uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};
// The system's local time now.
LocalTime NowLocal();

// The path a profile file name stands for on this platform (POSIX: a backslash separates folders,
// so ".\VarnelConfig.ini" is VarnelConfig.ini in the current directory).
std::string NativePath(const char* fileName);

enum class PathKind { missing, regular, directory, other };
// What is at the path, links followed.
PathKind KindOf(const std::string& path);

// The whole content of a regular file; nullopt when it cannot be opened or is not a regular file.
std::optional<std::string> ReadRegularFile(const std::string& path);

// Replaces the file's content with data so that a crash or a full disk never leaves it half
// written: a new file next to it, then a replace. A target that is not a regular file (a device)
// is written in place. False when nothing was replaced.
bool ReplaceFileContent(const std::string& path, const std::string& data);

} // namespace platform
