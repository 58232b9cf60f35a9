// The profile-file reader and writer on any file content. Reads stay within their buffer and end
// in a NUL; a smaller buffer gets a prefix of what a large one gets; a write succeeds, leaves no
// temporary file behind, keeps the file's line ending, reads back, and changes no other key.
#include "FuzzCheck.h"
#include "FuzzFolder.h"

#include "app/platform/Profile.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <strings.h>
#include <vector>

namespace {

struct Name {
    const char* section;
    const char* key;
};

// What the bridge reads and writes, a second spelling of two of them, and short names that the
// fuzzer builds sections and keys from quickly.
constexpr Name kNames[] = {
    {"COM", "COM"},       {"COM", "BaudRate"},  {"Socket", "ServerIP"},
    {"Socket", "PORT"},   {"SYSTEM", "HEX"},    {"SYSTEM", "0x"},
    {"SYSTEM", "Single"}, {"SYSTEM", "REOPEN"}, {"Ports", "COM3"},
    {"ports", "com3"},    {"a", "b"},           {"A", "c"},
};
constexpr std::size_t kNameCount = sizeof kNames / sizeof kNames[0];

// Values that read back as written: no surrounding blanks or quotes, no line break. Null deletes.
const std::string kLongValue(300, 'v');
const char* const kValues[] = {"1",         "",    "0x",    "/dev/ttyUSB0",
                               "127.0.0.1", "a b", nullptr, kLongValue.c_str()};
constexpr std::size_t kValueCount = sizeof kValues / sizeof kValues[0];

constexpr std::size_t kMaxFile = 64 * 1024;

// A folder of its own for the settings file, removed when the process ends.
struct Folder : FuzzFolder {
    std::string file = dir.string() + "\\VarnelConfig.ini"; // as the bridge names it
    std::string Path() const { return (dir / "VarnelConfig.ini").string(); }
};

void Put(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// "\r\n" or "\n" by the file's first line break; empty when it has none.
std::string FirstLineEnd(const std::string& data) {
    std::size_t lf = data.find('\n');
    if (lf == std::string::npos)
        return "";
    return lf > 0 && data[lf - 1] == '\r' ? "\r\n" : "\n";
}

struct Value {
    bool found = false;
    std::string text;
    bool operator==(const Value&) const = default;
};

// Reads with a buffer that holds any value (the file is no longer) and either default; reading
// with two defaults tells a missing key from one whose value equals a default. Then reads with
// small buffers and the integer reader when thorough.
Value Read(const Name& name, const std::string& file, std::size_t fileSize, bool thorough) {
    std::string got[2];
    const char* defaults[2] = {"\x01none", "\x02none"};
    for (int i = 0; i < 2; ++i) {
        std::vector<char> buf(std::max<std::size_t>(fileSize, 16) + 1);
        const auto size = static_cast<std::uint32_t>(buf.size());
        std::uint32_t n = GetPrivateProfileStringA(name.section, name.key, defaults[i], buf.data(),
                                                   size, file.c_str());
        FUZZ_CHECK(n < size && buf[n] == '\0');
        got[i].assign(buf.data(), n);
    }
    Value value{got[0] == got[1], got[0]};
    if (!thorough)
        return value;

    for (std::uint32_t size : {1u, 2u, 3u, 8u}) {
        std::vector<char> buf(size, 'Z'); // exactly the size, so that an overrun is caught
        std::uint32_t n = GetPrivateProfileStringA(name.section, name.key, defaults[0], buf.data(),
                                                   size, file.c_str());
        FUZZ_CHECK(n < size && buf[n] == '\0');
        FUZZ_CHECK(got[0].compare(0, n, buf.data(), n) == 0);
        FUZZ_CHECK(n == std::min<std::size_t>(got[0].size(), size - 1));
    }
    char untouched = 'Z';
    FUZZ_CHECK(GetPrivateProfileStringA(name.section, name.key, defaults[0], &untouched, 0,
                                        file.c_str()) == 0);
    FUZZ_CHECK(untouched == 'Z');

    // The integer reader gives the default exactly when the key is missing.
    int a = GetPrivateProfileIntA(name.section, name.key, 12345, file.c_str());
    int b = GetPrivateProfileIntA(name.section, name.key, -7, file.c_str());
    FUZZ_CHECK(value.found ? a == b : a == 12345 && b == -7);
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Folder folder;
    size = std::min(size, kMaxFile);
    const std::string path = folder.Path();
    Put(path, data, size);

    Value before[kNameCount];
    for (std::size_t i = 0; i < kNameCount; ++i)
        before[i] = Read(kNames[i], folder.file, size, true);

    // The input picks the write through its length and its first and last bytes.
    std::size_t pick = size * 31 + (size ? data[0] + 7u * data[size - 1] : 0u);
    const Name& name = kNames[pick % kNameCount];
    const char* value = kValues[(pick / kNameCount) % kValueCount];
    const std::string old = Contents(path);
    FUZZ_CHECK(WritePrivateProfileStringA(name.section, name.key, value, folder.file.c_str()));
    FUZZ_CHECK(std::distance(std::filesystem::directory_iterator(folder.dir), {}) == 1);

    const std::string now = Contents(path);
    if (now != old) {
        std::string end = FirstLineEnd(old);
        FUZZ_CHECK(FirstLineEnd(now) == (end.empty() ? "\r\n" : end));
    }
    for (std::size_t i = 0; i < kNameCount; ++i) {
        const Value after = Read(kNames[i], folder.file, now.size(), false);
        if (!::strcasecmp(kNames[i].section, name.section) &&
            !::strcasecmp(kNames[i].key, name.key)) {
            // A deleted key may still be found in a later section of the same name.
            if (value)
                FUZZ_CHECK(after.found && after.text == value);
        } else {
            FUZZ_CHECK(after == before[i]);
        }
    }
    return 0;
}
