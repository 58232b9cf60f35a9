#include "serial/comm/linux/Port.h"

#include "serial/comm/linux/DcbLine.h"
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

// Completion of any overlapped record is announced here, for GetOverlappedResult with a wait.
std::mutex g_completionMutex;
std::condition_variable g_completion;

// Line events are sampled this often while a wait for them is pending.
constexpr int kSampleMs = 10;
constexpr std::size_t kMaxInCapacity = std::size_t{1} << 24;

void StoreInternal(OVERLAPPED* ov, ULONG_PTR value) {
    std::atomic_ref<ULONG_PTR>(ov->Internal).store(value, std::memory_order_release);
}

bool Elapsed(std::chrono::steady_clock::time_point deadline,
             std::chrono::steady_clock::time_point now) {
    return deadline != std::chrono::steady_clock::time_point::max() && now >= deadline;
}

} // namespace

void Event::Set() {
    {
        std::lock_guard lock(mutex_);
        signalled_ = true;
    }
    cv_.notify_all();
    std::lock_guard lock(listenerMutex_);
    if (listener_)
        listener_();
}

void Event::SetListener(std::function<void()> notify) {
    std::lock_guard lock(listenerMutex_);
    listener_ = std::move(notify);
}

void Event::Reset() {
    std::lock_guard lock(mutex_);
    signalled_ = false;
}

bool Event::Wait(DWORD milliseconds) {
    std::unique_lock lock(mutex_);
    if (milliseconds == INFINITE) {
        cv_.wait(lock, [this] { return signalled_; });
    } else if (!cv_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [this] { return signalled_; })) {
        return false;
    }
    if (!manual_)
        signalled_ = false;
    return true;
}

void WaitForCompletion(const OVERLAPPED* ov) {
    std::unique_lock lock(g_completionMutex);
    g_completion.wait(lock, [ov] { return HasOverlappedIoCompleted(ov); });
}

void ByteQueue::Push(const std::uint8_t* bytes, std::size_t n) {
    if (head_ > 0 && head_ == data_.size()) {
        data_.clear();
        head_ = 0;
    } else if (head_ >= 65536 && head_ * 2 >= data_.size()) {
        data_.erase(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
    data_.insert(data_.end(), bytes, bytes + n);
}

std::size_t ByteQueue::Pop(std::uint8_t* out, std::size_t n) {
    n = std::min(n, size());
    if (n > 0)
        std::memcpy(out, data_.data() + head_, n);
    head_ += n;
    if (head_ == data_.size()) {
        data_.clear();
        head_ = 0;
    }
    return n;
}

Port::Port(std::unique_ptr<Device> device) : device_(std::move(device)), dcb_(DefaultDcb()) {
    LineSettings line;
    if (device_->GetLine(line) == 0)
        LineIntoDcb(line, dcb_);
    haveCounters_ = device_->GetCounters(eventBase_) == 0;
    errorBase_ = eventBase_;
}

Port::~Port() {
    Close();
}

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

void Port::Close() {
    {
        std::lock_guard lock(mutex_);
        if (closed_)
            return;
        closed_ = true;
        stop_ = true;
        CompleteAll(reads_, ERROR_OPERATION_ABORTED);
        CompleteAll(writes_, ERROR_OPERATION_ABORTED);
        CompleteAll(waits_, ERROR_OPERATION_ABORTED);
        received_.Clear();
        Wake();
    }
    drained_.notify_all();
    if (worker_.joinable())
        worker_.join();
    std::shared_ptr<Device> device;
    {
        std::lock_guard lock(mutex_);
        device.swap(device_);
    }
    device.reset(); // a flush still draining holds its own reference until it returns
    if (wakeFd_ >= 0)
        close(wakeFd_);
    wakeFd_ = -1;
}

DWORD Port::Usable() const {
    if (closed_)
        return ERROR_INVALID_HANDLE;
    if (hungUp_)
        return ERROR_ACCESS_DENIED;
    return 0;
}

DWORD Port::DeviceError(int err) {
    if (err == EIO || err == ENXIO || err == ENODEV) {
        HangUp();
        return ERROR_ACCESS_DENIED;
    }
    return ErrnoToError(err, ErrnoContext::io);
}

void Port::HangUp() {
    if (hungUp_)
        return;
    hungUp_ = true;
    CompleteAll(reads_, ERROR_OPERATION_ABORTED);
    CompleteAll(writes_, ERROR_OPERATION_ABORTED);
    CompleteAll(waits_, ERROR_OPERATION_ABORTED);
    // What the device sent before it went stays readable: its last words are data too.
    drained_.notify_all();
    Wake();
}

bool Port::HasLastWords() const {
    return !closed_ && hungUp_ && !received_.empty();
}

// A pending operation of the calling thread on the caller's record.
std::unique_ptr<Port::Op> Port::NewOp(Kind kind, OVERLAPPED* ov, std::shared_ptr<Event> event) {
    auto op = std::make_unique<Op>();
    op->kind = kind;
    op->ov = ov;
    op->event = std::move(event);
    op->owner = std::this_thread::get_id();
    return op;
}

void Port::Wake() {
    if (wakeFd_ >= 0) {
        std::uint64_t one = 1;
        ssize_t ignored = write(wakeFd_, &one, sizeof one);
        (void)ignored;
    }
}

DWORD Port::Begin(OVERLAPPED* ov, const std::shared_ptr<Event>& event) {
    for (OpList* list : {&reads_, &writes_, &waits_}) {
        for (const auto& op : *list) {
            if (op->ov == ov)
                return ERROR_INVALID_PARAMETER; // the record is still in use
        }
    }
    if (event)
        event->Reset();
    ov->InternalHigh = 0;
    StoreInternal(ov, STATUS_PENDING);
    return 0;
}

void Port::Finish(OVERLAPPED* ov, const std::shared_ptr<Event>& event, DWORD code, DWORD count) {
    ov->InternalHigh = count;
    StoreInternal(ov, code);
    if (event)
        event->Set();
    { std::lock_guard lock(g_completionMutex); }
    g_completion.notify_all();
}

void Port::Complete(Op& op, DWORD code) {
    if (op.kind == Kind::write)
        pendingOut_ -= op.data.size() - op.done;
    Finish(op.ov, op.event, code, op.done);
}

void Port::CompleteAll(OpList& ops, DWORD code) {
    for (auto& op : ops)
        Complete(*op, code);
    ops.clear();
}

DWORD Port::SetupQueues(DWORD inQueue, DWORD /*outQueue*/) {
    std::lock_guard lock(mutex_);
    if (DWORD err = Usable())
        return err;
    inCapacity_ = std::clamp<std::size_t>(inQueue, 4096, kMaxInCapacity);
    Wake();
    return 0;
}

DWORD Port::GetState(DCB& dcb) {
    std::lock_guard lock(mutex_);
    if (DWORD err = Usable())
        return err;
    LineSettings line;
    if (int err = device_->GetLine(line))
        return DeviceError(err);
    dcb = dcb_;
    LineIntoDcb(line, dcb);
    return 0;
}

DWORD Port::SetState(const DCB& requested) {
    std::lock_guard lock(mutex_);
    if (DWORD err = Usable())
        return err;
    if (DWORD err = ValidateDcb(requested))
        return err;
    if (int err = device_->SetLine(DcbToLine(requested)))
        return DeviceError(err);
    // Output lines. A device without modem lines still takes the rest of its settings.
    auto drive = [this](int line, bool on) -> DWORD {
        int err = device_->SetModemLines(line, on);
        if (err == 0 || err == ENOTTY)
            return 0;
        return DeviceError(err);
    };
    if (DWORD err = drive(kLineDtr, requested.fDtrControl != DTR_CONTROL_DISABLE))
        return err;
    if (DWORD err = drive(kLineRts, requested.fRtsControl != RTS_CONTROL_DISABLE))
        return err;
    dcb_ = requested;
    dcb_.DCBlength = sizeof(DCB);
    return 0;
}

DWORD Port::GetTimeouts(COMMTIMEOUTS& timeouts) {
    std::lock_guard lock(mutex_);
    if (DWORD err = Usable())
        return err;
    timeouts = timeouts_;
    return 0;
}

DWORD Port::SetTimeouts(const COMMTIMEOUTS& timeouts) {
    std::lock_guard lock(mutex_);
    if (DWORD err = Usable())
        return err;
    timeouts_ = timeouts;
    return 0;
}

DWORD Port::SetMask(DWORD mask) {
    std::lock_guard lock(mutex_);
    if (DWORD err = Usable())
        return err;
    // A pending wait ends, successfully, with no events.
    for (auto& op : waits_) {
        std::atomic_ref<DWORD>(*op->events).store(0, std::memory_order_relaxed);
        Complete(*op, 0);
    }
    waits_.clear();
    mask_ = mask;
    history_ = 0;
    if (haveCounters_)
        device_->GetCounters(eventBase_);
    Wake();
    return 0;
}

DWORD Port::GetMask(DWORD& mask) {
    std::lock_guard lock(mutex_);
    if (DWORD err = Usable())
        return err;
    mask = mask_;
    return 0;
}

DWORD Port::WaitEvent(DWORD* events, OVERLAPPED* ov, std::shared_ptr<Event> event) {
    std::lock_guard lock(mutex_);
    if (DWORD err = Usable())
        return err;
    // With an empty mask no event could ever end the wait.
    if (mask_ == 0)
        return ERROR_INVALID_PARAMETER;
    if (DWORD err = Begin(ov, event))
        return err;
    SampleLineEvents();
    if (hungUp_) {
        // The sampling found the device gone: nothing could ever end this wait.
        StoreInternal(ov, ERROR_ACCESS_DENIED);
        return ERROR_ACCESS_DENIED;
    }
    if (DWORD happened = history_ & mask_) {
        history_ = 0;
        std::atomic_ref<DWORD>(*events).store(happened, std::memory_order_relaxed);
        Finish(ov, event, 0, 0);
        return 0;
    }
    auto op = NewOp(Kind::wait, ov, std::move(event));
    op->events = events;
    waits_.push_back(std::move(op));
    // The worker reads the device whether anyone waits or not (a read that empties a full queue
    // wakes it); a wait changes what it polls for only when it has to sample the modem lines.
    if (Samples())
        Wake();
    return ERROR_IO_PENDING;
}

DWORD Port::Read(void* buffer, DWORD n, DWORD* count, OVERLAPPED* ov,
                 std::shared_ptr<Event> event) {
    std::lock_guard lock(mutex_);
    if (DWORD err = Usable(); err != 0 && !HasLastWords())
        return err;
    if (DWORD err = Begin(ov, event))
        return err;
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    DWORD got = 0;
    if (n > 0 && reads_.empty()) {
        if (received_.size() < n && !hungUp_)
            PumpInput();
        if (hungUp_ && received_.empty()) {
            StoreInternal(ov, ERROR_ACCESS_DENIED);
            return ERROR_ACCESS_DENIED;
        }
        const bool wasFull = received_.size() >= inCapacity_;
        got = static_cast<DWORD>(received_.Pop(bytes, n));
        // A full queue made the worker stop reading the device; room again, it reads on, so that
        // what the device sends meanwhile is not left where a hang-up would discard it.
        if (wasFull && received_.size() < inCapacity_)
            Wake();
    }
    if (hungUp_) {
        // Nothing more will come: the read ends with what the device left behind.
        if (count)
            *count = got;
        Finish(ov, event, 0, got);
        return 0;
    }

    const COMMTIMEOUTS& t = timeouts_;
    const bool immediate = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                           t.ReadTotalTimeoutConstant == 0;
    const bool firstByte =
        t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
        t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;
    if (n == 0 || got == n || (immediate && reads_.empty()) || (firstByte && got > 0)) {
        if (count)
            *count = got;
        Finish(ov, event, 0, got);
        return 0;
    }

    auto op = NewOp(Kind::read, ov, std::move(event));
    op->buffer = bytes;
    op->wanted = n;
    op->done = got;
    op->firstByte = firstByte;
    const auto now = Clock::now();
    if (immediate) {
        op->deadline = now; // queued behind another read: ends with it
    } else if (firstByte) {
        op->deadline = now + std::chrono::milliseconds(t.ReadTotalTimeoutConstant);
    } else {
        if (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0) {
            std::uint64_t total =
                std::uint64_t{t.ReadTotalTimeoutMultiplier} * n + t.ReadTotalTimeoutConstant;
            op->deadline = now + std::chrono::milliseconds(total);
        }
        if (t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXDWORD) {
            op->interval = t.ReadIntervalTimeout;
            if (got > 0)
                op->intervalDeadline = now + std::chrono::milliseconds(op->interval);
        }
    }
    // The worker hands the device's bytes to pending reads as they come; it needs waking only to
    // keep a deadline. A read without one (waiting for its first byte) costs it no wake-up.
    const bool timed = op->deadline != Clock::time_point::max() ||
                       op->intervalDeadline != Clock::time_point::max();
    reads_.push_back(std::move(op));
    if (timed)
        Wake();
    return ERROR_IO_PENDING;
}

DWORD Port::Write(const void* data, DWORD n, DWORD* count, OVERLAPPED* ov,
                  std::shared_ptr<Event> event) {
    std::lock_guard lock(mutex_);
    if (DWORD err = Usable())
        return err;
    if (DWORD err = Begin(ov, event))
        return err;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    DWORD sent = 0;
    if (writes_.empty()) {
        while (sent < n) {
            ssize_t k = device_->Write(bytes + sent, n - sent);
            if (k > 0) {
                sent += static_cast<DWORD>(k);
                continue;
            }
            if (k < 0 && errno == EINTR)
                continue;
            if (k < 0 && errno == EAGAIN)
                break;
            DWORD err = DeviceError(k < 0 ? errno : EIO);
            StoreInternal(ov, err);
            return err;
        }
        if (sent == n) {
            if (n > 0)
                RecordEvents(EV_TXEMPTY);
            if (count)
                *count = sent;
            Finish(ov, event, 0, sent);
            return 0;
        }
    }
    auto op = NewOp(Kind::write, ov, std::move(event));
    op->data.assign(bytes, bytes + n);
    op->done = sent;
    const COMMTIMEOUTS& t = timeouts_;
    if (t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0) {
        std::uint64_t total =
            std::uint64_t{t.WriteTotalTimeoutMultiplier} * n + t.WriteTotalTimeoutConstant;
        op->deadline = Clock::now() + std::chrono::milliseconds(total);
    }
    pendingOut_ += n - sent;
    writes_.push_back(std::move(op));
    Wake();
    return ERROR_IO_PENDING;
}

DWORD Port::Cancel(std::thread::id owner) {
    std::lock_guard lock(mutex_);
    if (closed_)
        return ERROR_INVALID_HANDLE;
    for (OpList* list : {&reads_, &writes_, &waits_}) {
        for (auto it = list->begin(); it != list->end();) {
            if ((*it)->owner == owner) {
                Complete(**it, ERROR_OPERATION_ABORTED);
                it = list->erase(it);
            } else {
                ++it;
            }
        }
    }
    if (writes_.empty())
        drained_.notify_all();
    Wake();
    return 0;
}

DWORD Port::ClearError(DWORD* errors, COMSTAT* stat) {
    std::lock_guard lock(mutex_);
    if (HasLastWords()) {
        if (stat) {
            *stat = COMSTAT{};
            stat->cbInQue = static_cast<DWORD>(std::min<std::size_t>(received_.size(), MAXDWORD));
        }
        if (errors)
            *errors = 0;
        return 0;
    }
    if (DWORD err = Usable())
        return err;
    DWORD flags = 0;
    LineCounters now;
    if (haveCounters_) {
        if (int err = device_->GetCounters(now))
            return DeviceError(err);
        flags |= now.bufOverrun != errorBase_.bufOverrun ? CE_RXOVER : 0;
        flags |= now.overrun != errorBase_.overrun ? CE_OVERRUN : 0;
        flags |= now.parity != errorBase_.parity ? CE_RXPARITY : 0;
        flags |= now.frame != errorBase_.frame ? CE_FRAME : 0;
        flags |= now.brk != errorBase_.brk ? CE_BREAK : 0;
    }
    if (stat) {
        std::uint32_t in = 0, out = 0;
        if (int err = device_->InQueue(in))
            return DeviceError(err);
        if (int err = device_->OutQueue(out); err != 0 && err != ENOTTY && err != EINVAL)
            return DeviceError(err);
        *stat = COMSTAT{};
        stat->cbInQue = static_cast<DWORD>(
            std::min<std::uint64_t>(std::uint64_t{in} + received_.size(), MAXDWORD));
        stat->cbOutQue =
            static_cast<DWORD>(std::min<std::uint64_t>(std::uint64_t{out} + pendingOut_, MAXDWORD));
    }
    if (haveCounters_)
        errorBase_ = now;
    if (errors)
        *errors = flags;
    return 0;
}

DWORD Port::Purge(DWORD flags) {
    std::lock_guard lock(mutex_);
    if (DWORD err = Usable())
        return err;
    if (flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
        return ERROR_INVALID_PARAMETER;
    if (flags & PURGE_TXABORT) {
        CompleteAll(writes_, ERROR_OPERATION_ABORTED);
        drained_.notify_all();
    }
    if (flags & PURGE_RXABORT)
        CompleteAll(reads_, ERROR_OPERATION_ABORTED);
    if (flags & PURGE_TXCLEAR) {
        if (int err = device_->DiscardOutput())
            return DeviceError(err);
    }
    if (flags & PURGE_RXCLEAR) {
        received_.Clear();
        if (int err = device_->DiscardInput())
            return DeviceError(err);
    }
    Wake();
    return 0;
}

DWORD Port::Flush() {
    std::shared_ptr<Device> device;
    {
        std::unique_lock lock(mutex_);
        if (DWORD err = Usable())
            return err;
        drained_.wait(lock, [this] { return writes_.empty() || closed_ || hungUp_; });
        if (DWORD err = Usable())
            return err;
        device = device_;
    }
    int err = device->Drain();
    if (err == 0 || err == ENOTTY) // a pty has nothing to drain
        return 0;
    std::lock_guard lock(mutex_);
    if (closed_)
        return ERROR_INVALID_HANDLE;
    return DeviceError(err);
}

DWORD Port::ModemStatus(DWORD& bits) {
    std::lock_guard lock(mutex_);
    if (DWORD err = Usable())
        return err;
    int lines = 0;
    if (int err = device_->GetModemLines(lines))
        return DeviceError(err);
    bits = ((lines & kLineCts) ? MS_CTS_ON : 0) | ((lines & kLineDsr) ? MS_DSR_ON : 0) |
           ((lines & kLineRing) ? MS_RING_ON : 0) | ((lines & kLineDcd) ? MS_RLSD_ON : 0);
    return 0;
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

void Port::PumpOutput() {
    while (!writes_.empty()) {
        Op& op = *writes_.front();
        while (op.done < op.data.size()) {
            ssize_t k = device_->Write(op.data.data() + op.done, op.data.size() - op.done);
            if (k > 0) {
                op.done += static_cast<DWORD>(k);
                pendingOut_ -= static_cast<std::size_t>(k);
                continue;
            }
            if (k < 0 && errno == EINTR)
                continue;
            if (k < 0 && errno == EAGAIN)
                return;
            DWORD err = DeviceError(k < 0 ? errno : EIO);
            if (!hungUp_) {
                Complete(op, err);
                writes_.pop_front();
            }
            return;
        }
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
