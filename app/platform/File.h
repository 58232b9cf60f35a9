// The file operation the traffic log needs: append bytes to a file, creating it if it is missing.
#pragma once

#include <cstddef>

// Opens fileName for writing (created if missing, never truncated), moves to its end, writes the
// bytes in one write and closes the file. Returns false when the file could not be opened or the
// bytes could not all be written.
bool AppendToFile(const char* fileName, const char* data, std::size_t size);
