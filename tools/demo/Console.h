// What the rig prints: time-stamped lines and blocks of bytes shown as hex and as text.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace demo {

using Clock = std::chrono::steady_clock;

// Prints "hh:mm:ss  who  text" on standard output and flushes it, so a reader on a pipe sees
// each line at once.
void Say(std::string_view who, std::string_view text);

// "n bytes: 50 49 4E 47 ... |PING 0001\r\n|": the first bytes in hex, then the text with code
// page 936 pairs shown as UTF-8 and control bytes escaped. Long blocks are shortened.
std::string ShowBlock(std::string_view bytes);

// The bytes as UTF-8 text: printable ASCII as is, valid code page 936 pairs decoded, everything
// else as \r, \n, \t or \xNN.
std::string Printable(std::string_view bytes);

} // namespace demo
