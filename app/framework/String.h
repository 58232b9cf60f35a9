// CString: the growable 8-bit text of a dialog's members.
//
// Besides the text it keeps a short account of how the text changed: every change other than
// text added at the end or text removed from the start gives the string a new generation (unique
// in the process), and the bytes removed from the start are counted. A control that last showed
// generation g with d bytes dropped can then bring itself up to date by dropping the difference
// at the top and appending the new tail, whatever the length of the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

class CString {
public:
    CString() : m_nGeneration(NewGeneration()) {}
    CString(const char* psz) : m_str(psz ? psz : ""), m_nGeneration(NewGeneration()) {}
    CString(std::string_view text) : m_str(text), m_nGeneration(NewGeneration()) {}
    CString(const CString& other) : m_str(other.m_str), m_nGeneration(NewGeneration()) {}
    CString& operator=(const CString& other) { return Replace(other.m_str); }
    CString& operator=(const char* psz) { return Replace(psz ? psz : ""); }
    CString& operator=(std::string_view text) { return Replace(text); }

    CString& operator+=(std::string_view text) {
        m_str.append(text);
        return *this;
    }
    CString& operator+=(const char* psz) { return *this += std::string_view(psz ? psz : ""); }
    CString& operator+=(char ch) {
        m_str.push_back(ch);
        return *this;
    }

    // Removes nCount characters from nIndex on.
    void Delete(std::size_t nIndex, std::size_t nCount);
    void Empty() { Replace({}); }

    std::size_t GetLength() const { return m_str.size(); }
    bool IsEmpty() const { return m_str.empty(); }
    const char* GetString() const { return m_str.c_str(); }
    const std::string& Str() const { return m_str; }
    operator std::string_view() const { return m_str; }

    // The std::string reads that callers are used to.
    std::size_t size() const { return m_str.size(); }
    bool empty() const { return m_str.empty(); }
    const char* c_str() const { return m_str.c_str(); }
    const char* data() const { return m_str.data(); }
    std::size_t find(std::string_view s, std::size_t pos = 0) const { return m_str.find(s, pos); }
    bool starts_with(std::string_view s) const { return m_str.starts_with(s); }
    bool ends_with(std::string_view s) const { return m_str.ends_with(s); }

    friend bool operator==(const CString& a, const CString& b) { return a.m_str == b.m_str; }
    friend bool operator==(const CString& a, std::string_view b) { return a.m_str == b; }
    friend bool operator==(const CString& a, const char* b) { return a.m_str == (b ? b : ""); }
    friend std::ostream& operator<<(std::ostream& os, const CString& s) { return os << s.m_str; }

    // The change account (see above).
    std::uint64_t Generation() const { return m_nGeneration; }
    std::size_t DroppedFront() const { return m_nDropped; }

private:
    static std::uint64_t NewGeneration();
    CString& Replace(std::string_view text);

    std::string m_str;
    std::uint64_t m_nGeneration;
    std::size_t m_nDropped = 0;
};
