#include "tools/demo/Console.h"

#include <cstdio>
#include <ctime>
#include <iconv.h>

namespace demo {

namespace {

constexpr std::size_t kHexShown = 32;
constexpr std::size_t kTextShown = 160;

// Decodes one two-byte code page 936 character into out; false when the pair is not one.
bool DecodePair(iconv_t cd, const char* pair, std::string& out) {
    char in[2] = {pair[0], pair[1]};
    char buf[8];
    char* inPtr = in;
    char* outPtr = buf;
    std::size_t inLeft = sizeof in;
    std::size_t outLeft = sizeof buf;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
        inLeft != 0) {
        return false;
    }
    out.append(buf, static_cast<std::size_t>(outPtr - buf));
    return true;
}

} // namespace

void Say(std::string_view who, std::string_view text) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[16];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    std::printf("%s  %-7.*s %.*s\n", stamp, static_cast<int>(who.size()), who.data(),
                static_cast<int>(text.size()), text.data());
    std::fflush(stdout);
}

std::string Printable(std::string_view bytes) {
    iconv_t cd = iconv_open("UTF-8", "GB18030");
    std::string out;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
            ++i;
        } else if (c >= 0x81 && c <= 0xFE && i + 1 < bytes.size() &&
                   cd != reinterpret_cast<iconv_t>(-1) && DecodePair(cd, &bytes[i], out)) {
            i += 2;
        } else {
            char esc[8];
            if (c == '\r' || c == '\n' || c == '\t') {
                std::snprintf(esc, sizeof esc, "\\%c", c == '\r' ? 'r' : c == '\n' ? 'n' : 't');
            } else {
                std::snprintf(esc, sizeof esc, "\\x%02X", c);
            }
            out += esc;
            ++i;
        }
    }
    if (cd != reinterpret_cast<iconv_t>(-1)) {
        iconv_close(cd);
    }
    return out;
}

std::string ShowBlock(std::string_view bytes) {
    std::string out = std::to_string(bytes.size()) + (bytes.size() == 1 ? " byte:" : " bytes:");
    for (std::size_t i = 0; i < bytes.size() && i < kHexShown; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", static_cast<unsigned char>(bytes[i]));
        out += hex;
    }
    if (bytes.size() > kHexShown) {
        out += " ...";
    }
    out += "  |" + Printable(bytes.substr(0, kTextShown)) + "|";
    if (bytes.size() > kTextShown) {
        out += " ...";
    }
    return out;
}

} // namespace demo
