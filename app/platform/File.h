// The file operations the traffic log needs: append bytes to a file, creating it if it is
// missing; and, to remove old logs, the files of the current directory and the removal of one.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Opens fileName for writing (created if missing, never truncated), moves to its end, writes the
// bytes in one write and closes the file. Returns false when the file could not be opened or the
// bytes could not all be written.
bool AppendToFile(const char* fileName, const char* data, std::size_t size);

// The names of the regular files in the current directory (none when it cannot be read).
std::vector<std::string> FilesInCurrentFolder();
// Removes the file; false when it could not be removed.
bool RemoveFile(const char* fileName);
