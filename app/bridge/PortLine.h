// The serial line as a whole (rate, data bits, parity, stop bits, flow control): read from the
// settings file's [COM] keys, told in words, and held against what the port says it runs.
// Pure functions.
#pragma once

#include "serial/Serial.h"

#include <cstdint>
#include <string>
#include <string_view>

struct PortLine {
    std::uint32_t baud = 115200;
    CSerial::DataBits dataBits = CSerial::data8;
    CSerial::Parity parity = CSerial::parityNone;
    CSerial::StopBits stopBits = CSerial::stopOne;
    CSerial::Handshaking flow = CSerial::handshakeOff;

    bool operator==(const PortLine&) const = default;
};

// The rates a line may be given, in bits per second.
inline constexpr std::uint32_t LOWEST_RATE = 50;
inline constexpr std::uint32_t HIGHEST_RATE = 4000000;

// A rate as written: decimal digits only, LOWEST_RATE to HIGHEST_RATE. False for anything else.
bool ParseRate(std::string_view text, std::uint32_t& rate);

// The [COM] keys that shape the line, as the file holds them (empty when absent).
struct PortLineKeys {
    std::string rate;   // RATE: the rate, over the list's
    std::string format; // FORMAT: data bits, parity, stop bits ("8E1", "5N1.5")
    std::string flow;   // FLOW: NONE, RTSCTS or XONXOFF
};

// The keys applied to the line (which holds the list's rate and 8N1 without flow control): empty,
// or why a key's value is no such value, naming the key. A key in error changes nothing.
std::string ApplyPortLineKeys(const PortLineKeys& keys, PortLine& line);

// Why the baud box's text is no rate, for the status line's tooltip.
std::string DescribeTypedRateError(const std::string& text);

// "8E1", "5N1.5"
std::string FormatText(const PortLine& line);
// "19200 8E1, RTS/CTS", "115200 8N1"
std::string PortLineText(const PortLine& line);

// The window's lists as the settings file names them: the port list's index to the port name, the
// baud list's to bits per second ("COM3" and 115200 for an index outside the list).
const char* PortMap(int nIndex);
std::uint32_t BaudMap(int nIndex);

// The line the port says it runs (a setting it cannot tell as 0 or unknown).
PortLine ReadPortLine(CSerial& port);

// What the port holds of the line that was asked for, in words when it differs ("the port runs
// 8N1 where 8E1 was asked"); empty when it holds the line.
std::string DescribePortLineMismatch(const PortLine& wanted, const PortLine& held);
