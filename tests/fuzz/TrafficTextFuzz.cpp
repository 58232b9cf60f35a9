// The texts made from one block, for any bytes up to 64 KiB and every display option. The input
// is one option byte, then (when the own-time bit is set) 16 bytes of time, then the block.
// The hex body has 3 or 5 characters per byte and decodes back to the block; the text body is the
// block up to its first zero; the log entry has the header of its direction and the body whole.
#include "FuzzCheck.h"

#include "app/bridge/TrafficText.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

namespace {

enum Options : std::uint8_t { kHex = 1, kPrefix0x = 2, kFromNetwork = 4, kOwnTime = 8 };

constexpr std::size_t kMaxBlock = 64 * 1024;

int Digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1; // lower case is not what the pane shows either
}

void CheckHex(const std::string& hex, std::string_view block, bool prefix0x) {
    const std::size_t width = prefix0x ? 5 : 3;
    FUZZ_CHECK(hex.size() == block.size() * width);
    for (std::size_t i = 0; i < block.size(); ++i) {
        const char* group = hex.data() + i * width;
        if (prefix0x) {
            FUZZ_CHECK(group[0] == '0' && group[1] == 'x');
            group += 2;
        }
        const int high = Digit(group[0]);
        const int low = Digit(group[1]);
        FUZZ_CHECK(high >= 0 && low >= 0 && group[2] == ' ');
        FUZZ_CHECK(high * 16 + low == static_cast<unsigned char>(block[i]));
    }
}

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::uint8_t options = data[0];
    std::size_t skip = 1;
    SYSTEMTIME when{2026, 12, 0, 6, 10, 14, 14, 0};
    if ((options & kOwnTime) && size >= 1 + sizeof when) {
        std::memcpy(&when, data + 1, sizeof when);
        skip += sizeof when;
    }
    const std::string_view block(reinterpret_cast<const char*>(data) + skip,
                                 std::min(size - skip, kMaxBlock));
    const bool fromNetwork = options & kFromNetwork;

    const std::string hex = HexBody(block.data(), block.size(), false);
    const std::string hex0x = HexBody(block.data(), block.size(), true);
    CheckHex(hex, block, false);
    CheckHex(hex0x, block, true);
    std::string appended = "earlier text";
    AppendHexBody(appended, block.data(), block.size(), options & kPrefix0x);
    FUZZ_CHECK(appended == "earlier text" + ((options & kPrefix0x) ? hex0x : hex));

    const std::string text = TextBody(block.data(), block.size());
    FUZZ_CHECK(block.substr(0, text.size()) == text);
    FUZZ_CHECK(text.find('\0') == std::string::npos);
    FUZZ_CHECK(text.size() == block.size() || block[text.size()] == '\0');

    // What the window makes of the block: the body the options choose, the pane header, and the
    // log entry from the body as a C string.
    const std::string& body = (options & kHex) ? ((options & kPrefix0x) ? hex0x : hex) : text;
    const std::string count = std::to_string(block.size());
    const auto length = static_cast<long long>(block.size());

    const std::string word = fromNetwork ? "TCP" : "COM";
    const std::string header = PaneHeader(word.c_str(), length, when);
    FUZZ_CHECK(StartsWith(header, "\r\nRecv " + word + " " + count + " Bytes Data at Time "));
    FUZZ_CHECK(EndsWith(header, ":\r\n") && header.find("\r\n", 2) == header.size() - 2);

    const std::string entry = LogEntry(body.c_str(), length, fromNetwork, when);
    FUZZ_CHECK(StartsWith(entry, "Receive " + count + " bytes data from " +
                                     (fromNetwork ? "orvan(TCP) at " : "SPP(COM) at ")));
    const std::size_t headEnd = entry.find("\r\n");
    FUZZ_CHECK(headEnd != std::string::npos);
    const std::string head = entry.substr(0, headEnd + 2);
    // Two blanks before the colon for the serial side, one for the network side.
    FUZZ_CHECK(EndsWith(head, " :\r\n") && EndsWith(head, "  :\r\n") != fromNetwork);
    FUZZ_CHECK(entry.size() == head.size() + body.size() + 5);
    FUZZ_CHECK(entry.compare(head.size(), body.size(), body) == 0);
    FUZZ_CHECK(EndsWith(entry, " \r\n\r\n"));

    // The day's file name stays a plain name in the log folder.
    const std::string file = LogFileName(when);
    FUZZ_CHECK(EndsWith(file, ".log") && file.find('/') == std::string::npos);
    if (when.wYear >= 1000 && when.wYear <= 9999 && when.wMonth >= 1 && when.wMonth <= 12 &&
        when.wDay >= 1 && when.wDay <= 31)
        FUZZ_CHECK(file.size() == 14 && file[4] == '-' && file[7] == '-');
    return 0;
}
