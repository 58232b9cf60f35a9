// What the layer writes into a caller's OVERLAPPED record, and the news that a record completed,
// for GetOverlappedResult with a wait. The count is written before the status, and the status is
// stored with release order, so a caller that sees the record complete also sees its count.
#pragma once

#include "serial/comm/Comm.h"

#include <memory>

namespace comm {

class Event;

// An operation starts on the record: no bytes moved yet, status STATUS_PENDING.
void MarkPending(OVERLAPPED* ov);
// A call that started an operation fails at once: only the status is stored, nothing is
// signalled (the caller has the code from the call itself).
void StoreStatus(OVERLAPPED* ov, DWORD code);
// Completes the record with the code and the count, sets its event (if any) and wakes every
// WaitForCompletion.
void SignalCompletion(OVERLAPPED* ov, const std::shared_ptr<Event>& event, DWORD code, DWORD count);
// Waits until the record is no longer pending, whatever completes it.
void WaitForCompletion(const OVERLAPPED* ov);

} // namespace comm
