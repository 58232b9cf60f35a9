#include "serial/comm/Faults.h"

#include <array>
#include <atomic>
#include <mutex>

namespace comm {
namespace {

struct Fault {
    std::uint32_t error = 0;
    unsigned times = 0;
    unsigned skip = 0;
};

std::mutex g_faultMutex;
std::array<Fault, static_cast<std::size_t>(Call::Count)> g_faults;
std::atomic<unsigned> g_armed{0};

bool TakeFault(Call call, std::uint32_t& error) {
    if (g_armed.load(std::memory_order_relaxed) == 0)
        return false;
    std::lock_guard lock(g_faultMutex);
    Fault& fault = g_faults[static_cast<std::size_t>(call)];
    if (fault.times == 0)
        return false;
    if (fault.skip > 0) {
        --fault.skip;
        return false;
    }
    error = fault.error;
    if (--fault.times == 0)
        g_armed.fetch_sub(1, std::memory_order_relaxed);
    return true;
}

} // namespace

void FailCall(Call call, std::uint32_t error, unsigned times, unsigned skip) {
    SetFaultCheck(&TakeFault);
    std::lock_guard lock(g_faultMutex);
    Fault& fault = g_faults[static_cast<std::size_t>(call)];
    if (fault.times == 0 && times != 0)
        g_armed.fetch_add(1, std::memory_order_relaxed);
    if (fault.times != 0 && times == 0)
        g_armed.fetch_sub(1, std::memory_order_relaxed);
    fault = Fault{error, times, skip};
}

void ClearFaults() {
    std::lock_guard lock(g_faultMutex);
    g_faults.fill(Fault{});
    g_armed.store(0, std::memory_order_relaxed);
}

} // namespace comm
