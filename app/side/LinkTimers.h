// The timers and watches the two sides of the link run on (the window that holds them dispatches
// each id to its side), and the bounds of one poll.
#pragma once

#include <cstdint>

using LinkTimerId = std::uintptr_t;

// Poll timers of the two halves of the link.
inline constexpr LinkTimerId TIMER_COM = 1;
inline constexpr LinkTimerId TIMER_TCP = 2;

// One poll handles at most one block of this many bytes, in either direction.
inline constexpr int RECV_BUFFER_SIZE = 3096;

// The fast mode (FAST in the settings file) waits on the two sides instead of polling them and
// forwards each burst as one block once its side has been quiet for a moment. Its watches, and
// its one-shot timers for the server's quiet gap and the pacing of the panes' repaints.
inline constexpr LinkTimerId WATCH_COM = 1;       // the port's read of one burst has ended
inline constexpr LinkTimerId WATCH_TCP = 2;       // the connection has bytes to read
inline constexpr LinkTimerId WATCH_TCP_SEND = 3;  // the connection takes bytes that wait for it
inline constexpr LinkTimerId WATCH_DEVICE = 4;    // the port's write of bytes for the device ended
inline constexpr LinkTimerId TIMER_TCP_QUIET = 4; // the server has been quiet for TCP_QUIET_MS
inline constexpr LinkTimerId TIMER_PUSH = 5;      // at most one repaint of the panes per period
inline constexpr unsigned TCP_QUIET_MS = 1;
inline constexpr unsigned PUSH_PERIOD_MS = 100;

// Unattended operation (RECONNECT and AUTOOPEN in the settings file): a side that dropped is
// looked at every RETRY_TICK_MS and tried again when its plan says so; the link opens once the
// window is up.
inline constexpr LinkTimerId TIMER_RETRY = 6;
inline constexpr LinkTimerId TIMER_SERIAL_LOST = 7; // the device went away: its side closes
inline constexpr LinkTimerId TIMER_AUTOOPEN = 8;
inline constexpr unsigned RETRY_TICK_MS = 200;

// Listening (LISTEN in the settings file): the clients' sockets are watched under these ids, one
// each, in the fast mode; the listener itself is looked at on TIMER_TCP in both modes.
inline constexpr LinkTimerId WATCH_CLIENT = 16;
// TLS (TLS in the settings file): a handshake that has not ended after this long fails.
inline constexpr unsigned TLS_HANDSHAKE_MS = 10000;

// Telnet sessions in the fast mode: the modem lines are looked at this often, so that a change
// reaches the peer within 50 ms (the default mode looks at each network poll).
inline constexpr LinkTimerId TIMER_MODEM = 9;
inline constexpr unsigned MODEM_POLL_MS = 20;

// Bytes for the device: while some wait (or a session's line change waits for them to leave),
// their queue is looked at this often in the fast mode, so that a device that holds off is told
// and a waiting change goes through soon after the port has sent the bytes before it.
inline constexpr LinkTimerId TIMER_DEVICE = 10;
inline constexpr unsigned DEVICE_POLL_MS = 20;
// Closing the port gives what waits for the device this long to leave; REOPEN's cycle, as long
// as a write to the port was given before it.
inline constexpr unsigned DEVICE_CLOSE_MS = 1000;
inline constexpr unsigned DEVICE_REOPEN_MS = 10000;
