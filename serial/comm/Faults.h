// Calls of the communications layer made to fail on demand, so that every failure path of the
// code above it can be driven. Costs one relaxed atomic load per call while nothing is armed.
#pragma once

#include <cstdint>

namespace comm {

enum class Call {
    CreateFileA,
    CreateEventA,
    SetEvent,
    WaitForSingleObject,
    SetupComm,
    GetCommState,
    SetCommState,
    GetCommTimeouts,
    SetCommTimeouts,
    SetCommMask,
    GetCommMask,
    WaitCommEvent,
    ReadFile,
    WriteFile,
    GetOverlappedResult,
    CancelIo,
    ClearCommError,
    PurgeComm,
    FlushFileBuffers,
    GetCommModemStatus,
    Count
};

// The next `times` calls of `call`, after `skip` calls that go through, fail with `error`
// without doing anything else.
void FailCall(Call call, std::uint32_t error, unsigned times = 1, unsigned skip = 0);
// Disarms every armed failure.
void ClearFaults();

// Used by the layer: true (and the error) when this call must fail now.
bool TakeFault(Call call, std::uint32_t& error);

} // namespace comm
