#include "serial/comm/linux/Port.h"

#include "serial/comm/linux/Completion.h"
#include "serial/comm/linux/DcbLine.h"
#include "serial/comm/linux/Errors.h"
#include "serial/comm/linux/ReadTimeouts.h"

#include <algorithm>
#include <atomic>
#include <cerrno>

namespace comm {
namespace {

constexpr std::size_t kMaxInCapacity = std::size_t{1} << 24;

} // namespace

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

DWORD Port::Begin(OVERLAPPED* ov, const std::shared_ptr<Event>& event) {
    for (OpList* list : {&reads_, &writes_, &waits_}) {
        for (const auto& op : *list) {
            if (op->ov == ov)
                return ERROR_INVALID_PARAMETER; // the record is still in use
        }
    }
    if (event)
        event->Reset();
    MarkPending(ov);
    return 0;
}

void Port::Complete(Op& op, DWORD code) {
    if (op.kind == Kind::write)
        pendingOut_ -= op.data.size() - op.done;
    SignalCompletion(op.ov, op.event, code, op.done);
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

template <class T> DWORD Port::CopyIfUsable(T& to, const T& from) {
    std::lock_guard lock(mutex_);
    if (DWORD err = Usable())
        return err;
    to = from;
    return 0;
}

DWORD Port::GetTimeouts(COMMTIMEOUTS& timeouts) {
    return CopyIfUsable(timeouts, timeouts_);
}

DWORD Port::SetTimeouts(const COMMTIMEOUTS& timeouts) {
    return CopyIfUsable(timeouts_, timeouts);
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
    return CopyIfUsable(mask, mask_);
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
        StoreStatus(ov, ERROR_ACCESS_DENIED);
        return ERROR_ACCESS_DENIED;
    }
    if (DWORD happened = history_ & mask_) {
        history_ = 0;
        std::atomic_ref<DWORD>(*events).store(happened, std::memory_order_relaxed);
        SignalCompletion(ov, event, 0, 0);
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
            StoreStatus(ov, ERROR_ACCESS_DENIED);
            return ERROR_ACCESS_DENIED;
        }
        const bool wasFull = received_.size() >= inCapacity_;
        got = static_cast<DWORD>(received_.Pop(bytes, n));
        // A full queue made the worker stop reading the device; room again, it reads on, so that
        // what the device sends meanwhile is not left where a hang-up would discard it.
        if (wasFull && received_.size() < inCapacity_)
            Wake();
    }
    // After a hang-up nothing more will come: the read ends with what the device left behind.
    const ReadPlan plan = PlanRead({timeouts_, n, got, !reads_.empty()});
    if (plan.endsNow || hungUp_) {
        if (count)
            *count = got;
        SignalCompletion(ov, event, 0, got);
        return 0;
    }

    auto op = NewOp(Kind::read, ov, std::move(event));
    op->buffer = bytes;
    op->wanted = n;
    op->done = got;
    op->firstByte = plan.endsAtFirstByte;
    op->interval = plan.intervalMs;
    const auto now = Clock::now();
    if (plan.hasTotal)
        op->deadline = now + std::chrono::milliseconds(plan.totalMs);
    if (plan.intervalRunning)
        op->intervalDeadline = now + std::chrono::milliseconds(plan.intervalMs);
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
        if (DWORD err = Send(bytes, n, sent, false)) {
            StoreStatus(ov, err);
            return err;
        }
        if (sent == n) {
            if (n > 0)
                RecordEvents(EV_TXEMPTY);
            if (count)
                *count = sent;
            SignalCompletion(ov, event, 0, sent);
            return 0;
        }
    }
    auto op = NewOp(Kind::write, ov, std::move(event));
    op->data.assign(bytes, bytes + n);
    op->done = sent;
    if (std::uint64_t total = 0; TotalTimeout(timeouts_.WriteTotalTimeoutMultiplier,
                                              timeouts_.WriteTotalTimeoutConstant, n, total))
        op->deadline = Clock::now() + std::chrono::milliseconds(total);
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

DWORD Port::Escape(DWORD func) {
    std::lock_guard lock(mutex_);
    if (DWORD err = Usable())
        return err;
    int line = 0;
    switch (func) {
    case SETBREAK:
    case CLRBREAK:
        if (int err = device_->SetBreak(func == SETBREAK))
            return DeviceError(err);
        return 0;
    case SETDTR:
    case CLRDTR:
        // A line that handshaking drives is not ours to set.
        if (dcb_.fDtrControl == DTR_CONTROL_HANDSHAKE)
            return ERROR_INVALID_PARAMETER;
        line = kLineDtr;
        break;
    case SETRTS:
    case CLRRTS:
        if (dcb_.fRtsControl == RTS_CONTROL_HANDSHAKE || dcb_.fRtsControl == RTS_CONTROL_TOGGLE)
            return ERROR_INVALID_PARAMETER;
        line = kLineRts;
        break;
    default:
        return ERROR_INVALID_PARAMETER;
    }
    // Unlike SetState, a device without modem lines (ENOTTY) is reported: here driving the line
    // is all the caller asked for.
    if (int err = device_->SetModemLines(line, func == SETDTR || func == SETRTS))
        return DeviceError(err);
    return 0;
}

} // namespace comm
