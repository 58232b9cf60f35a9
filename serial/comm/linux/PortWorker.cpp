// The port's worker thread: it owns the descriptor, moves the device's bytes into the receive
// queue and on into pending reads, sends what pending writes hold, ends operations whose time
// ran out and samples the line events while a wait needs them. It runs under the port's mutex
// except while it polls.
#include "serial/comm/linux/Port.h"

#include "serial/comm/linux/Completion.h"
#include "serial/comm/linux/Errors.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace comm {
namespace {

// Line events are sampled this often while a wait for them is pending.
constexpr int kSampleMs = 10;

bool Elapsed(std::chrono::steady_clock::time_point deadline,
             std::chrono::steady_clock::time_point now) {
    return deadline != std::chrono::steady_clock::time_point::max() && now >= deadline;
}

} // namespace

DWORD Port::Start() {
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0)
        return ErrnoToError(errno, ErrnoContext::io);
    try {
        worker_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        close(wakeFd_);
        wakeFd_ = -1;
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return 0;
}

void Port::Wake() {
    if (wakeFd_ >= 0) {
        std::uint64_t one = 1;
        ssize_t ignored = write(wakeFd_, &one, sizeof one);
        (void)ignored;
    }
}

// Moves what the device has into the receive queue, then into pending reads. False when the
// device turned out to be gone.
bool Port::PumpInput() {
    std::uint8_t chunk[4096];
    for (;;) {
        DeliverReads();
        std::size_t space = inCapacity_ > received_.size() ? inCapacity_ - received_.size() : 0;
        if (space == 0)
            return true;
        ssize_t n = device_->Read(chunk, std::min(space, sizeof chunk));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return true;
        if (n <= 0) {
            // End of stream or an error on a terminal: the device hung up.
            HangUp();
            return false;
        }
        received_.Push(chunk, static_cast<std::size_t>(n));
        DWORD events = EV_RXCHAR;
        if ((mask_ & EV_RXFLAG) && std::memchr(chunk, static_cast<unsigned char>(dcb_.EvtChar),
                                               static_cast<std::size_t>(n)))
            events |= EV_RXFLAG;
        RecordEvents(events);
        if (static_cast<std::size_t>(n) < std::min(space, sizeof chunk)) {
            DeliverReads();
            return true;
        }
    }
}

void Port::DeliverReads() {
    // The clock is read only for a read that waits on an interval (see ExpireTimeouts).
    std::optional<Clock::time_point> now;
    while (!reads_.empty() && !received_.empty()) {
        Op& op = *reads_.front();
        std::size_t k = received_.Pop(op.buffer + op.done, op.wanted - op.done);
        op.done += static_cast<DWORD>(k);
        if (op.done == op.wanted || op.firstByte) {
            Complete(op, 0);
            reads_.pop_front();
            continue;
        }
        if (op.interval != 0 && k > 0) {
            if (!now)
                now = Clock::now();
            op.intervalDeadline = *now + std::chrono::milliseconds(op.interval);
        }
    }
}

DWORD Port::Send(const std::uint8_t* bytes, std::size_t n, DWORD& done, bool queued) {
    while (done < n) {
        ssize_t k = device_->Write(bytes + done, n - done);
        if (k > 0) {
            done += static_cast<DWORD>(k);
            if (queued)
                pendingOut_ -= static_cast<std::size_t>(k);
            continue;
        }
        if (k < 0 && errno == EINTR)
            continue;
        if (k < 0 && errno == EAGAIN)
            return 0;
        return DeviceError(k < 0 ? errno : EIO);
    }
    return 0;
}

void Port::PumpOutput() {
    while (!writes_.empty()) {
        Op& op = *writes_.front();
        if (DWORD err = Send(op.data.data(), op.data.size(), op.done, true)) {
            // A hang-up has ended every pending write already, this one included.
            if (!hungUp_) {
                Complete(op, err);
                writes_.pop_front();
            }
            return;
        }
        if (op.done < op.data.size())
            return; // the device takes no more for now
        Complete(op, 0);
        writes_.pop_front();
        if (writes_.empty()) {
            RecordEvents(EV_TXEMPTY);
            drained_.notify_all();
        }
    }
}

void Port::ExpireTimeouts() {
    // A COMMTIMEOUTS time-out is a success with the bytes moved so far. Only pending reads and
    // writes have deadlines: without them the clock is not read (on some machines that is a
    // system call, and this runs for every chunk the device sends).
    const Clock::time_point now =
        reads_.empty() && writes_.empty() ? Clock::time_point{} : Clock::now();
    for (OpList* list : {&reads_, &writes_}) {
        for (auto it = list->begin(); it != list->end();) {
            if (Elapsed((*it)->deadline, now) || Elapsed((*it)->intervalDeadline, now)) {
                Complete(**it, 0);
                it = list->erase(it);
            } else {
                ++it;
            }
        }
    }
    if (writes_.empty())
        drained_.notify_all();
}

void Port::RecordEvents(DWORD events) {
    events &= mask_;
    if (events == 0)
        return;
    if (waits_.empty()) {
        history_ |= events;
        return;
    }
    for (auto& op : waits_) {
        std::atomic_ref<DWORD>(*op->events).store(events, std::memory_order_relaxed);
        Complete(*op, 0);
    }
    waits_.clear();
}

bool Port::Samples() const {
    return haveCounters_ && !waits_.empty() && !hungUp_ &&
           (mask_ & (EV_CTS | EV_DSR | EV_RLSD | EV_RING | EV_BREAK | EV_ERR));
}

void Port::SampleLineEvents() {
    if (!haveCounters_ || hungUp_)
        return;
    LineCounters now;
    if (int err = device_->GetCounters(now)) {
        if (err == EIO)
            HangUp();
        return;
    }
    const LineCounters& was = eventBase_;
    DWORD events = 0;
    events |= now.cts != was.cts ? EV_CTS : 0;
    events |= now.dsr != was.dsr ? EV_DSR : 0;
    events |= now.dcd != was.dcd ? EV_RLSD : 0;
    events |= now.ring != was.ring ? EV_RING : 0;
    events |= now.brk != was.brk ? EV_BREAK : 0;
    if (now.frame != was.frame || now.overrun != was.overrun || now.parity != was.parity)
        events |= EV_ERR;
    eventBase_ = now;
    RecordEvents(events);
}

int Port::PollTimeout() const {
    Clock::time_point next = Clock::time_point::max();
    for (const OpList* list : {&reads_, &writes_}) {
        for (const auto& op : *list)
            next = std::min({next, op->deadline, op->intervalDeadline});
    }
    int timeout = -1;
    if (next != Clock::time_point::max()) {
        auto ms = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
        timeout = static_cast<int>(std::clamp<long long>(ms, 0, 1 << 30));
    }
    if (Samples() && (timeout < 0 || timeout > kSampleMs))
        timeout = kSampleMs;
    return timeout;
}

void Port::Run() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {-1, 0, 0}};
        nfds_t count = 1;
        if (!hungUp_) {
            // A hung-up device polls as ready for ever: it is left out of the set.
            short wanted = 0;
            if (received_.size() < inCapacity_ || !reads_.empty())
                wanted |= POLLIN;
            if (!writes_.empty())
                wanted |= POLLOUT;
            fds[1] = {device_->Fd(), wanted, 0};
            count = 2;
        }
        int timeout = PollTimeout();
        lock.unlock();
        int ready = poll(fds, count, timeout);
        lock.lock();
        if (stop_)
            break;
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            std::uint64_t value;
            ssize_t ignored = read(wakeFd_, &value, sizeof value);
            (void)ignored;
        }
        if (ready > 0 && count == 2 && !hungUp_) {
            if (fds[1].revents & (POLLIN | POLLHUP | POLLERR))
                PumpInput();
            if (!hungUp_ && (fds[1].revents & (POLLHUP | POLLERR)))
                HangUp();
            if (!hungUp_ && (fds[1].revents & POLLOUT))
                PumpOutput();
        }
        ExpireTimeouts();
        if (Samples())
            SampleLineEvents();
    }
}

} // namespace comm
