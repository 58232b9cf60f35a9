// The device control block against what a device holds of it. Pure functions.
#pragma once

#include "serial/comm/Comm.h"
#include "serial/comm/linux/Device.h"

namespace comm {

// The record a port starts from before its device's own settings are read into it.
DCB DefaultDcb();
// 0 when every value of the record can be applied, ERROR_INVALID_PARAMETER otherwise.
DWORD ValidateDcb(const DCB& dcb);
// The part of the record that goes to the device.
LineSettings DcbToLine(const DCB& dcb);
// Overwrites the device-held fields of the record with what the device reports.
void LineIntoDcb(const LineSettings& line, DCB& dcb);

} // namespace comm
