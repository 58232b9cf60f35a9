// Calls of the communications layer made to fail on demand, so that every failure path of the
// code above it can be driven. FailCall and ClearFaults live in the library of test seams, which
// only tests link; the first FailCall hands the layer its check (SetFaultCheck). The program sets
// none, and the layer then pays one relaxed atomic load per call.
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
    EscapeCommFunction,
    SetCommBreak,
    ClearCommBreak,
    Count
};

// The next `times` calls of `call`, after `skip` calls that go through, fail with `error`
// without doing anything else.
void FailCall(Call call, std::uint32_t error, unsigned times = 1, unsigned skip = 0);
// Disarms every armed failure.
void ClearFaults();

// The layer asks this check before each call: true (and the error) when the call must fail now.
using FaultCheck = bool (*)(Call call, std::uint32_t& error);
void SetFaultCheck(FaultCheck check);

} // namespace comm
