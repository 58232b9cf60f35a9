// Objects behind the layer's handles: events and open ports.
#pragma once

#include "serial/comm/Comm.h"
#include "serial/comm/linux/Device.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace comm {

class Object {
public:
    virtual ~Object() = default;
};

class Event final : public Object {
public:
    Event(bool manualReset, bool initialState) : manual_(manualReset), signalled_(initialState) {}
    void Set();
    void Reset();
    // True when signalled within the time (INFINITE: no limit); an auto-reset event is reset.
    bool Wait(DWORD milliseconds);
    // Calls notify after every Set, on the thread that sets the event; an empty function stops
    // that. Once a call that stops it has returned, notify is not running and never runs again.
    void SetListener(std::function<void()> notify);

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    const bool manual_;
    bool signalled_;
    std::mutex listenerMutex_;
    std::function<void()> listener_;
};

// Waits until the record is no longer pending, whatever completes it.
void WaitForCompletion(const OVERLAPPED* ov);

// Received bytes not yet read: a vector with a moving start.
class ByteQueue {
public:
    std::size_t size() const { return data_.size() - head_; }
    bool empty() const { return size() == 0; }
    void Push(const std::uint8_t* bytes, std::size_t n);
    std::size_t Pop(std::uint8_t* out, std::size_t n);
    void Clear() {
        data_.clear();
        head_ = 0;
    }

private:
    std::vector<std::uint8_t> data_;
    std::size_t head_ = 0;
};

class Port final : public Object {
public:
    explicit Port(std::unique_ptr<Device> device);
    ~Port() override;

    // Starts the worker; 0 or an error code.
    DWORD Start();
    // Completes every pending operation with ERROR_OPERATION_ABORTED, stops the worker and
    // releases the device. Later calls fail with ERROR_INVALID_HANDLE.
    void Close();

    // Each returns 0 or an error code. Read, Write and WaitEvent return ERROR_IO_PENDING when
    // the operation goes on in the background.
    DWORD SetupQueues(DWORD inQueue, DWORD outQueue);
    DWORD GetState(DCB& dcb);
    DWORD SetState(const DCB& dcb);
    DWORD GetTimeouts(COMMTIMEOUTS& timeouts);
    DWORD SetTimeouts(const COMMTIMEOUTS& timeouts);
    DWORD SetMask(DWORD mask);
    DWORD GetMask(DWORD& mask);
    DWORD WaitEvent(DWORD* events, OVERLAPPED* ov, std::shared_ptr<Event> event);
    DWORD Read(void* buffer, DWORD n, DWORD* count, OVERLAPPED* ov, std::shared_ptr<Event> event);
    DWORD Write(const void* data, DWORD n, DWORD* count, OVERLAPPED* ov,
                std::shared_ptr<Event> event);
    DWORD Cancel(std::thread::id owner);
    DWORD ClearError(DWORD* errors, COMSTAT* stat);
    DWORD Purge(DWORD flags);
    DWORD Flush();
    DWORD ModemStatus(DWORD& bits);

private:
    using Clock = std::chrono::steady_clock;
    enum class Kind { read, write, wait };
    struct Op {
        Kind kind;
        OVERLAPPED* ov;
        std::shared_ptr<Event> event;
        std::thread::id owner;
        std::uint8_t* buffer = nullptr; // read
        DWORD wanted = 0;
        DWORD done = 0;
        std::vector<std::uint8_t> data; // write: the bytes still to send
        DWORD* events = nullptr;        // wait
        Clock::time_point deadline = Clock::time_point::max();
        Clock::time_point intervalDeadline = Clock::time_point::max();
        DWORD interval = 0;
        bool firstByte = false; // complete as soon as any byte came
    };
    using OpList = std::deque<std::unique_ptr<Op>>;

    DWORD Usable() const;
    // True when the device hung up but bytes it sent before are still to be read.
    bool HasLastWords() const;
    DWORD Begin(OVERLAPPED* ov, const std::shared_ptr<Event>& event);
    void Finish(OVERLAPPED* ov, const std::shared_ptr<Event>& event, DWORD code, DWORD count);
    void Complete(Op& op, DWORD code);
    void CompleteAll(OpList& ops, DWORD code);
    DWORD DeviceError(int err);
    void HangUp();
    std::unique_ptr<Op> NewOp(Kind kind, OVERLAPPED* ov, std::shared_ptr<Event> event);
    void Wake();
    void Run();
    int PollTimeout() const;
    bool PumpInput();
    void DeliverReads();
    void PumpOutput();
    void ExpireTimeouts();
    void RecordEvents(DWORD events);
    void SampleLineEvents();
    bool Samples() const;

    mutable std::mutex mutex_;
    std::condition_variable drained_;
    std::shared_ptr<Device> device_;
    std::thread worker_;
    int wakeFd_ = -1;
    bool stop_ = false;
    bool closed_ = false;
    bool hungUp_ = false;

    DCB dcb_;
    COMMTIMEOUTS timeouts_{};
    std::size_t inCapacity_ = 4096;
    ByteQueue received_;
    OpList reads_, writes_, waits_;
    std::size_t pendingOut_ = 0;

    DWORD mask_ = 0;
    DWORD history_ = 0;
    bool haveCounters_ = false;
    LineCounters eventBase_;
    LineCounters errorBase_;
};

} // namespace comm
