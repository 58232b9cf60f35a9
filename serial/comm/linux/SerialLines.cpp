#include "serial/comm/linux/SerialLines.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace comm {
namespace {

namespace fs = std::filesystem;

// Major numbers of the pseudo-terminal slaves (/dev/pts/N).
constexpr unsigned kPtySlaveFirstMajor = 136;
constexpr unsigned kPtySlaveLastMajor = 143;
// /dev/tty, /dev/console and /dev/ptmx are 5:0, 5:1 and 5:2; the virtual consoles are 4:0 to
// 4:63 (4:64 and up are the legacy UARTs ttyS*).
constexpr unsigned kTtyAuxMajor = 5;
constexpr unsigned kVirtualConsoleMajor = 4;
constexpr unsigned kVirtualConsoleCount = 64;

// The first line of a sysfs attribute, or empty when there is none.
std::string Attribute(const fs::path& dir, const char* name) {
    std::ifstream in(dir / name);
    std::string line;
    std::getline(in, line);
    return line;
}

bool AttributeNumber(const fs::path& dir, const char* name, unsigned long& value) {
    std::string text = Attribute(dir, name);
    if (text.empty())
        return false;
    char* end = nullptr;
    value = std::strtoul(text.c_str(), &end, 0);
    return end != text.c_str();
}

// The facts that the sysfs folder of one tty device shows.
void ReadSysfsDevice(const fs::path& dir, SerialLineFacts& facts) {
    std::error_code ec;
    facts.ttyClass = fs::read_symlink(dir / "subsystem", ec).filename() == "tty" && !ec;
    facts.hasDevice = fs::exists(fs::symlink_status(dir / "device", ec));
    unsigned long value = 0;
    if (AttributeNumber(dir, "type", value))
        facts.uartType = static_cast<int>(value);
    unsigned long port = 0, iomem = 0;
    if (AttributeNumber(dir, "port", port) && AttributeNumber(dir, "iomem_base", iomem))
        facts.uartHasIo = port != 0 || iomem != 0;
}

} // namespace

SerialLineFacts ReadSerialLineFacts(const std::string& path, const std::string& sysRoot) {
    SerialLineFacts facts;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        facts.statError = errno;
        return facts;
    }
    facts.exists = true;
    facts.charDevice = S_ISCHR(st.st_mode);
    if (!facts.charDevice)
        return facts;
    facts.major = ::major(st.st_rdev);
    facts.minor = ::minor(st.st_rdev);
    const fs::path node = fs::path(sysRoot) / "dev" / "char" /
                          (std::to_string(facts.major) + ":" + std::to_string(facts.minor));
    std::error_code ec;
    const fs::path dir = fs::canonical(node, ec);
    if (ec)
        return facts;
    facts.name = dir.filename().string();
    ReadSysfsDevice(dir, facts);
    return facts;
}

LineKind JudgeSerialLine(const SerialLineFacts& facts) {
    if (!facts.exists)
        return LineKind::missing;
    if (!facts.charDevice)
        return LineKind::notTerminal;
    if (facts.major >= kPtySlaveFirstMajor && facts.major <= kPtySlaveLastMajor)
        return LineKind::ptySlave;
    // Terminals of the system itself, whatever sysfs says about them.
    if ((facts.major == kTtyAuxMajor && facts.minor <= 2) ||
        (facts.major == kVirtualConsoleMajor && facts.minor < kVirtualConsoleCount))
        return LineKind::notSerial;
    if (!facts.ttyClass)
        return LineKind::notTerminal;
    // A serial driver's terminal hangs below the device that carries it; the other terminals are
    // virtual. Bluetooth's rfcomm terminals stay virtual until their link is up.
    if (!facts.hasDevice && facts.name.rfind("rfcomm", 0) != 0)
        return LineKind::notSerial;
    if (facts.uartType == 0 || !facts.uartHasIo)
        return LineKind::noHardware;
    return LineKind::serialLine;
}

std::vector<SerialLineEntry> ListSerialLines(const std::string& devRoot,
                                             const std::string& sysRoot) {
    std::vector<SerialLineEntry> lines;
    std::error_code ec;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(fs::path(sysRoot) / "class" / "tty", ec)) {
        SerialLineFacts facts;
        facts.exists = facts.charDevice = true;
        facts.name = entry.path().filename().string();
        const std::string dev = Attribute(entry.path(), "dev");
        if (std::sscanf(dev.c_str(), "%u:%u", &facts.major, &facts.minor) != 2)
            continue;
        ReadSysfsDevice(entry.path(), facts);
        std::error_code ignored;
        if (JudgeSerialLine(facts) == LineKind::serialLine &&
            fs::exists(fs::symlink_status(fs::path(devRoot) / facts.name, ignored)))
            lines.push_back({facts.name, {}});
    }

    // The by-id links survive a replug, so they are the names worth showing.
    std::map<std::string, std::string> byId;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(fs::path(devRoot) / "serial" / "by-id", ec)) {
        std::error_code linkError;
        const std::string target = fs::read_symlink(entry.path(), linkError).filename().string();
        if (linkError)
            continue;
        const std::string link = entry.path().filename().string();
        auto [it, added] = byId.emplace(target, link);
        if (!added && link < it->second)
            it->second = link;
    }
    for (SerialLineEntry& line : lines) {
        if (auto it = byId.find(line.name); it != byId.end())
            line.byId = it->second;
    }
    std::sort(lines.begin(), lines.end(),
              [](const SerialLineEntry& a, const SerialLineEntry& b) { return a.name < b.name; });
    return lines;
}

std::vector<SerialLineEntry> ListSerialLines() {
    return ListSerialLines("/dev", "/sys");
}

LineKind JudgeDevicePath(const std::string& devicePath) {
    return JudgeSerialLine(ReadSerialLineFacts(devicePath));
}

} // namespace comm
