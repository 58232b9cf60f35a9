#include "serial/comm/linux/Completion.h"

#include "serial/comm/linux/Event.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace comm {
namespace {

// Completion of any overlapped record is announced here.
std::mutex g_completionMutex;
std::condition_variable g_completion;

} // namespace

void StoreStatus(OVERLAPPED* ov, DWORD code) {
    std::atomic_ref<ULONG_PTR>(ov->Internal).store(code, std::memory_order_release);
}

void MarkPending(OVERLAPPED* ov) {
    ov->InternalHigh = 0;
    std::atomic_ref<ULONG_PTR>(ov->Internal).store(STATUS_PENDING, std::memory_order_release);
}

void SignalCompletion(OVERLAPPED* ov, const std::shared_ptr<Event>& event, DWORD code,
                      DWORD count) {
    ov->InternalHigh = count;
    StoreStatus(ov, code);
    if (event)
        event->Set();
    { std::lock_guard lock(g_completionMutex); }
    g_completion.notify_all();
}

void WaitForCompletion(const OVERLAPPED* ov) {
    std::unique_lock lock(g_completionMutex);
    g_completion.wait(lock, [ov] { return HasOverlappedIoCompleted(ov); });
}

} // namespace comm
