#include "serial/comm/linux/DcbLine.h"

namespace comm {

DCB DefaultDcb() {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = 9600;
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fTXContinueOnXoff = 1;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    return dcb;
}

DWORD ValidateDcb(const DCB& dcb) {
    // Zero would hang the line up on this platform; the top bit is no speed at all.
    if (dcb.BaudRate == 0 || dcb.BaudRate > 0x7FFFFFFFu)
        return ERROR_INVALID_PARAMETER;
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8)
        return ERROR_INVALID_PARAMETER;
    if (dcb.Parity > SPACEPARITY || dcb.StopBits > TWOSTOPBITS)
        return ERROR_INVALID_PARAMETER;
    // One and a half stop bits go only with 5 data bits, two stop bits only with more.
    if ((dcb.StopBits == ONE5STOPBITS) != (dcb.ByteSize == 5) && dcb.StopBits != ONESTOPBIT)
        return ERROR_INVALID_PARAMETER;
    if (dcb.fRtsControl == RTS_CONTROL_TOGGLE || dcb.fDtrControl > DTR_CONTROL_HANDSHAKE)
        return ERROR_INVALID_PARAMETER;
    if (dcb.XonChar == dcb.XoffChar && (dcb.fOutX || dcb.fInX))
        return ERROR_INVALID_PARAMETER;
    return 0;
}

LineSettings DcbToLine(const DCB& dcb) {
    LineSettings line;
    line.baud = dcb.BaudRate;
    line.dataBits = dcb.ByteSize;
    line.parity = dcb.Parity;
    line.stopBits = dcb.StopBits;
    line.parityCheck = dcb.fParity != 0;
    line.ctsRtsFlow = dcb.fOutxCtsFlow != 0 || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
    line.xonXoffOut = dcb.fOutX != 0;
    line.xonXoffIn = dcb.fInX != 0;
    line.xonChar = dcb.XonChar;
    line.xoffChar = dcb.XoffChar;
    return line;
}

void LineIntoDcb(const LineSettings& line, DCB& dcb) {
    dcb.BaudRate = line.baud;
    dcb.ByteSize = line.dataBits;
    dcb.Parity = line.parity;
    dcb.StopBits = line.stopBits;
    dcb.fOutX = line.xonXoffOut ? 1 : 0;
    dcb.fInX = line.xonXoffIn ? 1 : 0;
    dcb.XonChar = line.xonChar;
    dcb.XoffChar = line.xoffChar;
    if (!line.ctsRtsFlow) {
        dcb.fOutxCtsFlow = 0;
        if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE)
            dcb.fRtsControl = RTS_CONTROL_ENABLE;
    }
}

} // namespace comm
