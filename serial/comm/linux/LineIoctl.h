// A terminal's line settings through the kernel's termios2 interface, which takes any baud rate.
// Where the system does not know termios2 (qemu-user before 8, which runs the 64-bit ARM tests: a
// terminal answers the older call but not termios2) the same settings go through the older
// termios calls, whose baud rates are the standard ones only.
// Must not be included next to the C library's <termios.h>.
#pragma once

#include <asm/termbits.h>

namespace comm {

// An ioctl, made again while a signal interrupts it: 0 or the errno of the failed call.
int Ioctl(int fd, unsigned long request, void* arg);

// 0 or the errno of the failed call (ENOTTY for what is no terminal).
int GetLineSettings(int fd, termios2& t);
// EINVAL where only the older calls exist and the baud rate is not a standard one.
int SetLineSettings(int fd, const termios2& t);

// Puts the rate into the record: a standard rate by its own speed code, so that every reader of
// the terminal's settings sees it (stty, the C library's cfgetospeed), any other through BOTHER.
void PutRate(termios2& t, unsigned baud);

} // namespace comm
