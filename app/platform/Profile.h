// Profile (INI) files: the three calls Varnel makes on its settings file, in the shape the
// bridge code was written against.
//
// Reading rules: section and key names match without regard to case, blanks around names and
// values are trimmed, one pair of surrounding quotes is removed from a value, LF and CR LF
// lines are both read, lines starting with ';' are comments. A missing or unreadable file reads
// as empty. A backslash in the file name is a path separator, so ".\\VarnelConfig.ini" names
// VarnelConfig.ini in the current directory.
//
// Writes keep every other section, key, comment and the file's own line ending (new files get
// CR LF), and replace the file atomically: a new file next to it, then a rename. A file that is
// a link is written through the link; a path that resolves to something other than a regular
// file (a device, say) is written in place.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The key's value read as a decimal integer (optional sign, leading digits; anything else gives
// 0; values outside the 32-bit range saturate). The default when the file, section or key is
// missing.
int GetPrivateProfileIntA(const char* lpAppName, const char* lpKeyName, int nDefault,
                          const char* lpFileName);

// Copies the value, or lpDefault when the file, section or key is missing, into the buffer; a
// longer text is cut to nSize - 1 characters. Always NUL-terminated when nSize > 0. Returns the
// number of characters copied, without the NUL.
std::uint32_t GetPrivateProfileStringA(const char* lpAppName, const char* lpKeyName,
                                       const char* lpDefault, char* lpReturnedString,
                                       std::uint32_t nSize, const char* lpFileName);

// The value whole, however long; nullopt when the file, section or key is missing. For values
// that must be read exactly or refused, never cut to a buffer.
std::optional<std::string> GetPrivateProfileValue(const char* lpAppName, const char* lpKeyName,
                                                  const char* lpFileName);

// Creates the file, the section and the key as needed and replaces an existing value; a null
// value deletes the key. Returns false when the file could not be written (nothing changed).
bool WritePrivateProfileStringA(const char* lpAppName, const char* lpKeyName, const char* lpString,
                                const char* lpFileName);

// While false, WritePrivateProfileStringA writes nothing and returns false: a program that must
// leave its settings file as it found it sets this once at start-up. True unless set.
void SetProfileWritesEnabled(bool bEnabled);
