// The texts made from one block of traffic: the pane entry (header and body) and the log entry.
// Pure functions of the bytes, the options and the time, so that tests and benchmarks reach them
// without a window.
#pragma once

#include "app/platform/Clock.h"

#include <cstddef>
#include <string>

// Body in text form: the bytes as they are, up to the first zero byte.
std::string TextBody(const char* data, std::size_t size);
// Body in hexadecimal form: "%02X " per byte, with "0x" before each byte when prefix0x is set.
std::string HexBody(const char* data, std::size_t size, bool prefix0x);
// Appends the hexadecimal form to out without a temporary.
void AppendHexBody(std::string& out, const char* data, std::size_t size, bool prefix0x);

// "\r\nRecv COM 5 Bytes Data at Time 12/06/26 10:14:14:\r\n" (word is "COM" or "TCP"). A block
// from one of several clients names it: "Recv TCP 5 Bytes Data from 127.0.0.1:50412 at Time ...".
std::string PaneHeader(const char* word, long long size, const SYSTEMTIME& when,
                       const std::string& client = {});

// One log entry; the serial form has two blanks before the colon, the network form one. A block
// from one of several clients names it after "orvan(TCP)".
std::string LogEntry(const std::string& body, long long size, bool fromNetwork,
                     const SYSTEMTIME& when, const std::string& client = {});

// "2026-12-06.log" for the date of when.
std::string LogFileName(const SYSTEMTIME& when);
