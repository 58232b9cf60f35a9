#include "serial/comm/PortName.h"

#include <cstring>
#include <memory>
#include <mutex>

namespace comm {
namespace {

std::mutex g_mapMutex;
std::shared_ptr<const PortMap> g_map;

std::string Mapped(const std::string& name) {
    std::shared_ptr<const PortMap> map;
    {
        std::lock_guard lock(g_mapMutex);
        map = g_map;
    }
    return map ? (*map)(name) : std::string();
}

} // namespace

void SetPortMap(PortMap map) {
    auto installed = map ? std::make_shared<const PortMap>(std::move(map)) : nullptr;
    std::lock_guard lock(g_mapMutex);
    g_map = std::move(installed);
}

std::uint32_t ResolvePortName(const char* name, std::string& path) {
    path.clear();
    if (name == nullptr)
        return 2;
    std::size_t length = strnlen(name, kMaxPortNameLength + 1);
    if (length == 0 || length > kMaxPortNameLength)
        return 2;
    std::string text(name, length);
    if (text.find('/') != std::string::npos || text.find("..") != std::string::npos)
        return 2;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F || c == '\\')
            return 2;
    }

    if (std::string mapped = Mapped(text); !mapped.empty()) {
        path = MappedDevicePath(std::move(mapped));
        return 0;
    }
    path = DefaultDevicePath(text);
    return 0;
}

} // namespace comm
