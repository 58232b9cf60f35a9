// Telnet with the COM port option (RFC 854, 855, 856, 1143 and 2217), as the side that holds the
// port speaks it: bytes from the network in, the device's data and the client's line commands
// out; the device's data and the answers in, bytes for the network out.
//
// Pure: nothing here touches a socket, the clock or the serial port. One codec per session.
// Every buffer has a bound: a subnegotiation holds at most TELNET_SUBNEGOTIATION_LIMIT bytes, and
// what Feed() gives back is never more than a small multiple of what it was given.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace telnet {
inline constexpr std::uint8_t SE = 240;
inline constexpr std::uint8_t SB = 250;
inline constexpr std::uint8_t WILL = 251;
inline constexpr std::uint8_t WONT = 252;
inline constexpr std::uint8_t DO = 253;
inline constexpr std::uint8_t DONT = 254;
inline constexpr std::uint8_t IAC = 255;

inline constexpr std::uint8_t BINARY = 0;
inline constexpr std::uint8_t SUPPRESS_GO_AHEAD = 3;
inline constexpr std::uint8_t COM_PORT_OPTION = 44;

// What the client sends; the answer carries the code + 100.
inline constexpr std::uint8_t SIGNATURE = 0;
inline constexpr std::uint8_t SET_BAUDRATE = 1;
inline constexpr std::uint8_t SET_DATASIZE = 2;
inline constexpr std::uint8_t SET_PARITY = 3;
inline constexpr std::uint8_t SET_STOPSIZE = 4;
inline constexpr std::uint8_t SET_CONTROL = 5;
inline constexpr std::uint8_t NOTIFY_LINESTATE = 6;
inline constexpr std::uint8_t NOTIFY_MODEMSTATE = 7;
inline constexpr std::uint8_t FLOWCONTROL_SUSPEND = 8;
inline constexpr std::uint8_t FLOWCONTROL_RESUME = 9;
inline constexpr std::uint8_t SET_LINESTATE_MASK = 10;
inline constexpr std::uint8_t SET_MODEMSTATE_MASK = 11;
inline constexpr std::uint8_t PURGE_DATA = 12;
inline constexpr std::uint8_t LAST_COMMAND = PURGE_DATA;
inline constexpr std::uint8_t ANSWER_OFFSET = 100;
} // namespace telnet

// The most bytes a subnegotiation may carry between IAC SB and IAC SE (option, code and value,
// unescaped). The longest command a client needs is a signature text.
inline constexpr std::size_t TELNET_SUBNEGOTIATION_LIMIT = 256;

// One COM port command from the client, its value unescaped and of the length its code takes.
struct ComCommand {
    std::uint8_t code = 0; // telnet::SIGNATURE .. telnet::PURGE_DATA
    std::string value;     // SIGNATURE: any text; SET_BAUDRATE: 4 bytes; 8, 9: none; others: 1
    // How many of this Feed()'s data bytes came before it: data before a baud change still goes
    // out at the old rate.
    std::size_t at = 0;

    // SET_BAUDRATE's rate (network order); the first byte for one-byte values.
    std::uint32_t Number() const;
    std::uint8_t Byte() const { return value.empty() ? 0 : std::uint8_t(value[0]); }
};

// Why a subnegotiation was dropped whole. The session goes on after any of them: the peer's
// data and later commands are still served, and the device gets nothing of what was dropped.
// Closing would cost a client its line settings for one bad command. A subnegotiation that never
// ends keeps the rest of the session out of the data until IAC SE or another command comes; it
// is reported once, when it passes the bound.
enum class TelnetDrop {
    tooLong,     // more than TELNET_SUBNEGOTIATION_LIMIT bytes; the rest up to IAC SE is skipped
    badIac,      // IAC followed by neither IAC nor SE inside it; that command is then obeyed
    otherOption, // for an option other than the COM port option
    unknownCode, // a COM port code that is no client command
    wrongLength, // a value of the wrong length for its code (or no code at all)
};

struct TelnetDropped {
    TelnetDrop why;
    std::uint8_t option = 0; // as far as it was read
    std::uint8_t code = 0;
    std::size_t length = 0; // bytes between IAC SB and the end, as far as they were kept
};

// "a Telnet subnegotiation for option 44 (code 1, 3 bytes) was dropped: wrong length", for the
// events line.
std::string TelnetDropText(const TelnetDropped& dropped);

// What one Feed() yields, in the order the peer sent it.
struct TelnetInput {
    std::string data;                   // for the device, unescaped; never longer than the input
    std::vector<ComCommand> commands;   // for the caller to apply and answer
    std::string reply;                  // negotiation answers, for the network as they are
    std::vector<TelnetDropped> dropped; // one per dropped subnegotiation
};

class CTelnetCodec {
public:
    // The offers that open the session: WILL COM-PORT-OPTION, WILL BINARY, DO BINARY, each one
    // that the peer has not settled already. Bytes for the network.
    std::string Start();

    // Bytes from the network, split anywhere. Fills in (cleared first).
    void Feed(std::string_view bytes, TelnetInput& in);

    // Whether an option is in force this side (we WILL) and the peer's side (it WILL).
    bool Ours(std::uint8_t option) const { return m_us[option] == Q::yes; }
    bool Peers(std::uint8_t option) const { return m_him[option] == Q::yes; }

    // The device's data for the network: 0xFF doubled. The device's bytes go out as they are
    // otherwise, whether or not the peer agreed to BINARY: the line is not a text terminal.
    static std::string Escape(std::string_view data);
    static void AppendEscaped(std::string& wire, std::string_view data);

    // IAC SB 44 (code + 100) value IAC SE, 255 doubled in the value.
    static std::string Answer(std::uint8_t code, std::string_view value);
    static std::string AnswerSignature(std::string_view text);
    static std::string AnswerBaud(std::uint32_t baud);
    static std::string AnswerByte(std::uint8_t code, std::uint8_t value);
    static std::string NotifyLineState(std::uint8_t state);
    static std::string NotifyModemState(std::uint8_t state);

private:
    // RFC 1143's states for one side of one option. We never ask to turn an option off, so
    // WANTNO and the queue of the full method are never reached and are left out.
    enum class Q : std::uint8_t { no, yes, wantYes };
    enum class State : std::uint8_t { data, iac, verb, sb, sbIac, skip, skipIac };

    void Byte(std::uint8_t byte, TelnetInput& in);
    void AfterIac(std::uint8_t byte, TelnetInput& in);
    void Negotiate(std::uint8_t verb, std::uint8_t option, TelnetInput& in);
    void EndSubnegotiation(TelnetInput& in);
    void Drop(TelnetDrop why, TelnetInput& in);

    std::array<Q, 256> m_us{};     // what we do: DO/DONT from the peer, WILL/WONT from us
    std::array<Q, 256> m_him{};    // what the peer does: WILL/WONT from it, DO/DONT from us
    std::bitset<256> m_refusedUs;  // options we have refused to do once already
    std::bitset<256> m_refusedHim; // options we have told the peer not to do once already
    State m_state = State::data;
    std::uint8_t m_verb = 0;
    bool m_afterCr = false; // a CR from a peer that does not send BINARY: a NUL after it is padding
    std::string m_sb;       // option, code and value so far, at most the limit
};
