// An open port: the object behind a port's handle. The calls of the API run on the caller's
// thread (Port.cpp); one worker thread per port owns the device's descriptor, moves bytes between
// the device and the pending operations and keeps their deadlines (PortWorker.cpp).
#pragma once

#include "serial/comm/Comm.h"
#include "serial/comm/linux/ByteQueue.h"
#include "serial/comm/linux/Device.h"
#include "serial/comm/linux/Event.h"
#include "serial/comm/linux/Object.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace comm {

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
    // One of the functions of EscapeCommFunction (SETDTR .. CLRBREAK).
    DWORD Escape(DWORD func);

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
    // A setting read or written under the lock, when the port is usable; 0 or the error.
    template <class T> DWORD CopyIfUsable(T& to, const T& from);
    // True when the device hung up but bytes it sent before are still to be read.
    bool HasLastWords() const;
    DWORD Begin(OVERLAPPED* ov, const std::shared_ptr<Event>& event);
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
    // Writes bytes [done, n) until all went or the device takes no more for now (`done` counts
    // what went); 0 or the error of the failed write. The bytes of a queued write leave the count
    // of pending output as they go.
    DWORD Send(const std::uint8_t* bytes, std::size_t n, DWORD& done, bool queued);
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
