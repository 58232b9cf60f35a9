#include "app/platform/Profile.h"

#include "app/platform/System.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string_view Trim(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto la = static_cast<unsigned char>(a[i]);
        auto lb = static_cast<unsigned char>(b[i]);
        if (la >= 'A' && la <= 'Z')
            la = static_cast<unsigned char>(la - 'A' + 'a');
        if (lb >= 'A' && lb <= 'Z')
            lb = static_cast<unsigned char>(lb - 'A' + 'a');
        if (la != lb)
            return false;
    }
    return true;
}

// The lines of the file, without their line endings.
std::vector<std::string_view> SplitLines(std::string_view data) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t end = data.find('\n', start);
        if (end == std::string_view::npos) {
            lines.push_back(data.substr(start));
            break;
        }
        std::size_t len = end - start;
        if (len > 0 && data[end - 1] == '\r')
            --len;
        lines.push_back(data.substr(start, len));
        start = end + 1;
    }
    return lines;
}

// The section name of a line "[name]", or nullopt when the line is not a section header.
std::optional<std::string_view> SectionOf(std::string_view line) {
    line = Trim(line);
    if (line.size() < 2 || line.front() != '[')
        return std::nullopt;
    std::size_t close = line.find(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    return Trim(line.substr(1, close - 1));
}

// Splits "key=value" into its trimmed key and value; nullopt for lines without '='.
std::optional<std::pair<std::string_view, std::string_view>> EntryOf(std::string_view line) {
    std::string_view t = Trim(line);
    if (t.empty() || t.front() == ';')
        return std::nullopt;
    std::size_t eq = t.find('=');
    if (eq == std::string_view::npos)
        return std::nullopt;
    return std::make_pair(Trim(t.substr(0, eq)), Trim(t.substr(eq + 1)));
}

std::optional<std::string> Lookup(const char* section, const char* key, const char* fileName) {
    if (!section || !key)
        return std::nullopt;
    auto data = platform::ReadRegularFile(platform::NativePath(fileName));
    if (!data)
        return std::nullopt;
    bool inSection = false;
    for (std::string_view line : SplitLines(*data)) {
        if (auto name = SectionOf(line)) {
            inSection = SameName(*name, section);
            continue;
        }
        if (!inSection)
            continue;
        if (auto entry = EntryOf(line); entry && SameName(entry->first, key)) {
            std::string_view value = entry->second;
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                value.back() == value.front())
                value = value.substr(1, value.size() - 2);
            return std::string(value);
        }
    }
    return std::nullopt;
}

} // namespace

int GetPrivateProfileIntA(const char* lpAppName, const char* lpKeyName, int nDefault,
                          const char* lpFileName) {
    auto value = Lookup(lpAppName, lpKeyName, lpFileName);
    if (!value)
        return nDefault;
    std::string_view s = *value;
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    long long n = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            break;
        n = n * 10 + (c - '0');
        if (n > static_cast<long long>(INT_MAX) + 1)
            n = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        return static_cast<int>(-n);
    return static_cast<int>(std::min<long long>(n, INT_MAX));
}

std::uint32_t GetPrivateProfileStringA(const char* lpAppName, const char* lpKeyName,
                                       const char* lpDefault, char* lpReturnedString,
                                       std::uint32_t nSize, const char* lpFileName) {
    if (!lpReturnedString || nSize == 0)
        return 0;
    auto value = Lookup(lpAppName, lpKeyName, lpFileName);
    std::string text = value ? *value : std::string(lpDefault ? lpDefault : "");
    std::size_t n = std::min<std::size_t>(text.size(), nSize - 1);
    std::memcpy(lpReturnedString, text.data(), n);
    lpReturnedString[n] = '\0';
    return static_cast<std::uint32_t>(n);
}

std::optional<std::string> GetPrivateProfileValue(const char* lpAppName, const char* lpKeyName,
                                                  const char* lpFileName) {
    return Lookup(lpAppName, lpKeyName, lpFileName);
}

namespace {

bool g_bWritesEnabled = true;

} // namespace

void SetProfileWritesEnabled(bool bEnabled) {
    g_bWritesEnabled = bEnabled;
}

bool WritePrivateProfileStringA(const char* lpAppName, const char* lpKeyName, const char* lpString,
                                const char* lpFileName) {
    if (!lpAppName || !lpKeyName || !g_bWritesEnabled)
        return false;
    const std::string path = platform::NativePath(lpFileName);
    const platform::PathKind kind = platform::KindOf(path);
    std::string old;
    if (kind != platform::PathKind::missing) {
        auto data = platform::ReadRegularFile(path);
        if (!data && kind == platform::PathKind::regular)
            return false; // unreadable: never replace what we could not read
        if (data)
            old = std::move(*data);
    }
    std::string eol = "\r\n";
    if (std::size_t lf = old.find('\n');
        lf != std::string::npos && (lf == 0 || old[lf - 1] != '\r'))
        eol = "\n";

    std::vector<std::string_view> lines = SplitLines(old);
    const std::string entry = std::string(lpKeyName) + "=" + (lpString ? lpString : "");

    // Find the section, the key inside it, and the last non-blank line of the section.
    std::optional<std::size_t> sectionAt, keyAt, lastAt;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (auto name = SectionOf(lines[i])) {
            if (sectionAt && !keyAt)
                break; // the section ended without the key
            if (keyAt)
                break;
            if (SameName(*name, lpAppName)) {
                sectionAt = i;
                lastAt = i;
            }
            continue;
        }
        if (!sectionAt)
            continue;
        if (!Trim(lines[i]).empty())
            lastAt = i;
        if (auto e = EntryOf(lines[i]); e && SameName(e->first, lpKeyName)) {
            keyAt = i;
            break;
        }
    }

    std::vector<std::string> out(lines.begin(), lines.end());
    if (keyAt) {
        if (lpString)
            out[*keyAt] = entry;
        else
            out.erase(out.begin() + static_cast<std::ptrdiff_t>(*keyAt));
    } else if (!lpString) {
        return true; // nothing to delete
    } else if (sectionAt) {
        out.insert(out.begin() + static_cast<std::ptrdiff_t>(*lastAt + 1), entry);
    } else {
        while (!out.empty() && Trim(out.back()).empty())
            out.pop_back();
        if (!out.empty())
            out.emplace_back();
        std::string header = "[";
        header += lpAppName;
        header += ']';
        out.push_back(std::move(header));
        out.push_back(entry);
    }

    std::string data;
    for (const std::string& line : out) {
        data += line;
        data += eol;
    }
    return platform::ReplaceFileContent(path, data);
}
