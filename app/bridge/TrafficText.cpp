#include "app/bridge/TrafficText.h"

#include <cstdio>
#include <cstring>

std::string TextBody(const char* data, std::size_t size) {
    const void* zero = std::memchr(data, 0, size);
    return std::string(data, zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - data)
                                  : size);
}

void AppendHexBody(std::string& out, const char* data, std::size_t size, bool prefix0x) {
    static const char kDigits[] = "0123456789ABCDEF";
    const std::size_t start = out.size();
    out.resize(start + size * (prefix0x ? 5 : 3));
    char* p = out.data() + start;
    for (std::size_t i = 0; i < size; ++i) {
        const auto byte = static_cast<unsigned char>(data[i]);
        if (prefix0x) {
            *p++ = '0';
            *p++ = 'x';
        }
        *p++ = kDigits[byte >> 4];
        *p++ = kDigits[byte & 0x0F];
        *p++ = ' ';
    }
}

std::string HexBody(const char* data, std::size_t size, bool prefix0x) {
    std::string out;
    AppendHexBody(out, data, size, prefix0x);
    return out;
}

std::string PaneHeader(const char* word, long long size, const SYSTEMTIME& when,
                       const std::string& client) {
    char header[128];
    const std::string from = client.empty() ? "" : " from " + client.substr(0, 64);
    std::snprintf(header, sizeof header,
                  "\r\nRecv %s %lld Bytes Data%s at Time %02d/%02d/%02d %02d:%02d:%02d:\r\n", word,
                  size, from.c_str(), when.wMonth, when.wDay, when.wYear % 100, when.wHour,
                  when.wMinute, when.wSecond);
    return header;
}

std::string LogEntry(const std::string& body, long long size, bool fromNetwork,
                     const SYSTEMTIME& when, const std::string& client) {
    char head[192];
    const std::string who = client.empty() ? "" : " " + client.substr(0, 64);
    std::snprintf(
        head, sizeof head,
        fromNetwork
            ? "Receive %lld bytes data from orvan(TCP)%s at %04d-%02d-%02d %02d:%02d:%02d :\r\n"
            : "Receive %lld bytes data from SPP(COM)%s at %04d-%02d-%02d %02d:%02d:%02d  :\r\n",
        size, who.c_str(), when.wYear, when.wMonth, when.wDay, when.wHour, when.wMinute,
        when.wSecond);
    std::string entry = head;
    entry.reserve(entry.size() + body.size() + 5);
    entry += body;
    entry += " \r\n\r\n";
    return entry;
}

std::string LogFileName(const SYSTEMTIME& when) {
    char name[32];
    std::snprintf(name, sizeof name, "%04d-%02d-%02d.log", when.wYear, when.wMonth, when.wDay);
    return name;
}
