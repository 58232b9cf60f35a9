#include "app/network/TelnetCodec.h"

using namespace telnet;

namespace {

constexpr std::uint8_t CR = 13;

// The options we take on, both ways: the COM port option itself, BINARY so that every byte
// value passes, and SUPPRESS-GO-AHEAD, which costs nothing on a full-duplex link.
bool Agreed(std::uint8_t option) {
    return option == BINARY || option == SUPPRESS_GO_AHEAD || option == COM_PORT_OPTION;
}

// The length a client command's value must have; -1 for any (a signature text).
// A value of no byte or one.
constexpr int kNoneOrOne = -2;

int ValueLength(std::uint8_t code) {
    switch (code) {
    case SIGNATURE:
        return -1;
    case SET_BAUDRATE:
        return 4;
    case FLOWCONTROL_SUSPEND:
    case FLOWCONTROL_RESUME:
        return 0;
    case NOTIFY_LINESTATE:
    case NOTIFY_MODEMSTATE:
        return kNoneOrOne; // a client asks for the state with no value
    default:
        return 1;
    }
}

void AppendCommand(std::string& wire, std::uint8_t verb, std::uint8_t option) {
    wire += char(IAC);
    wire += char(verb);
    wire += char(option);
}

std::string DropReason(TelnetDrop why) {
    switch (why) {
    case TelnetDrop::tooLong:
        return "longer than " + std::to_string(TELNET_SUBNEGOTIATION_LIMIT) + " bytes";
    case TelnetDrop::badIac:
        return "a command inside it";
    case TelnetDrop::otherOption:
        return "an option not agreed";
    case TelnetDrop::unknownCode:
        return "an unknown command";
    case TelnetDrop::wrongLength:
        return "wrong length";
    }
    return "";
}

} // namespace

std::uint32_t ComCommand::Number() const {
    std::uint32_t number = 0;
    for (char byte : value)
        number = (number << 8) | std::uint8_t(byte);
    return number;
}

std::string TelnetDropText(const TelnetDropped& dropped) {
    return "a Telnet subnegotiation for option " + std::to_string(dropped.option) + " (code " +
           std::to_string(dropped.code) + ", " + std::to_string(dropped.length) +
           " bytes) was dropped: " + DropReason(dropped.why);
}

std::string CTelnetCodec::Start() {
    std::string wire;
    // Only what is still off: a peer that started first has been answered already, and an offer
    // now would be taken for a new request.
    if (m_us[COM_PORT_OPTION] == Q::no) {
        m_us[COM_PORT_OPTION] = Q::wantYes;
        AppendCommand(wire, WILL, COM_PORT_OPTION);
    }
    if (m_us[BINARY] == Q::no) {
        m_us[BINARY] = Q::wantYes;
        AppendCommand(wire, WILL, BINARY);
    }
    if (m_him[BINARY] == Q::no) {
        m_him[BINARY] = Q::wantYes;
        AppendCommand(wire, DO, BINARY);
    }
    return wire;
}

void CTelnetCodec::Feed(std::string_view bytes, TelnetInput& in) {
    in.data.clear();
    in.commands.clear();
    in.reply.clear();
    in.dropped.clear();
    for (char byte : bytes)
        Byte(std::uint8_t(byte), in);
}

void CTelnetCodec::Byte(std::uint8_t byte, TelnetInput& in) {
    switch (m_state) {
    case State::data:
        if (byte == IAC) {
            m_state = State::iac;
            return;
        }
        // RFC 854: without BINARY, a bare CR comes as CR NUL.
        if (m_afterCr && byte == 0) {
            m_afterCr = false;
            return;
        }
        m_afterCr = byte == CR && m_him[BINARY] != Q::yes;
        in.data += char(byte);
        return;
    case State::iac:
        AfterIac(byte, in);
        return;
    case State::verb:
        m_state = State::data;
        Negotiate(m_verb, byte, in);
        return;
    case State::sb:
        if (byte == IAC) {
            m_state = State::sbIac;
            return;
        }
        break;
    case State::sbIac:
        if (byte == SE) {
            m_state = State::data;
            EndSubnegotiation(in);
            return;
        }
        if (byte != IAC) {
            // The subnegotiation ended without IAC SE; what follows IAC is a command of its own.
            Drop(TelnetDrop::badIac, in);
            AfterIac(byte, in);
            return;
        }
        m_state = State::sb;
        break;
    case State::skip:
        if (byte == IAC)
            m_state = State::skipIac;
        return;
    case State::skipIac:
        if (byte == IAC)
            m_state = State::skip;
        else if (byte == SE)
            m_state = State::data;
        else
            AfterIac(byte, in);
        return;
    }
    // A byte of the subnegotiation (a doubled IAC counts once).
    if (m_sb.size() == TELNET_SUBNEGOTIATION_LIMIT) {
        Drop(TelnetDrop::tooLong, in);
        m_state = State::skip;
        return;
    }
    m_sb += char(byte);
}

void CTelnetCodec::AfterIac(std::uint8_t byte, TelnetInput& in) {
    m_state = State::data;
    switch (byte) {
    case IAC:
        m_afterCr = false;
        in.data += char(IAC);
        return;
    case WILL:
    case WONT:
    case DO:
    case DONT:
        m_verb = byte;
        m_state = State::verb;
        return;
    case SB:
        m_sb.clear();
        m_state = State::sb;
        return;
    default:
        // NOP, GA, AYT, BRK, a stray SE and the like: nothing for the device, nothing to answer.
        return;
    }
}

// RFC 1143 for the options we take on, a refusal for every other. A request is answered only
// when it changes the state; an acknowledgement of our own request, a repeat of what is in force
// and a refusal of what is off are not answered, so no exchange can loop.
//
// An option we refuse is refused once per session and side: RFC 1143 would answer a peer that
// asks again, but a peer that asks again on every refusal would loop with us, and what it would
// hear is what it heard already.
void CTelnetCodec::Negotiate(std::uint8_t verb, std::uint8_t option, TelnetInput& in) {
    const bool hisSide = verb == WILL || verb == WONT;
    const bool enable = verb == WILL || verb == DO;
    Q& q = hisSide ? m_him[option] : m_us[option];
    const std::uint8_t yes = hisSide ? DO : WILL;
    const std::uint8_t no = hisSide ? DONT : WONT;
    if (enable) {
        if (q == Q::wantYes) {
            q = Q::yes; // the peer agreed to our offer
        } else if (q == Q::no && Agreed(option)) {
            q = Q::yes;
            AppendCommand(in.reply, yes, option);
        } else if (q == Q::no) {
            auto&& refused = hisSide ? m_refusedHim[option] : m_refusedUs[option];
            if (!refused)
                AppendCommand(in.reply, no, option);
            refused = true;
        }
        return;
    }
    if (q == Q::yes)
        AppendCommand(in.reply, no, option); // the peer turned it off: acknowledge once
    q = Q::no;                               // from wantYes: the peer refused our offer
}

void CTelnetCodec::EndSubnegotiation(TelnetInput& in) {
    if (m_sb.size() < 2) {
        Drop(m_sb.empty() || std::uint8_t(m_sb[0]) == COM_PORT_OPTION ? TelnetDrop::wrongLength
                                                                      : TelnetDrop::otherOption,
             in);
        return;
    }
    const std::uint8_t option = std::uint8_t(m_sb[0]);
    const std::uint8_t code = std::uint8_t(m_sb[1]);
    if (option != COM_PORT_OPTION) {
        Drop(TelnetDrop::otherOption, in);
        return;
    }
    if (code > LAST_COMMAND) {
        Drop(TelnetDrop::unknownCode, in);
        return;
    }
    const int length = ValueLength(code);
    const std::size_t given = m_sb.size() - 2;
    if ((length >= 0 && given != std::size_t(length)) || (length == kNoneOrOne && given > 1)) {
        Drop(TelnetDrop::wrongLength, in);
        return;
    }
    in.commands.push_back(ComCommand{code, m_sb.substr(2), in.data.size()});
    m_sb.clear();
}

void CTelnetCodec::Drop(TelnetDrop why, TelnetInput& in) {
    TelnetDropped dropped{why};
    if (!m_sb.empty())
        dropped.option = std::uint8_t(m_sb[0]);
    if (m_sb.size() > 1)
        dropped.code = std::uint8_t(m_sb[1]);
    dropped.length = m_sb.size();
    in.dropped.push_back(dropped);
    m_sb.clear();
}

void CTelnetCodec::AppendEscaped(std::string& wire, std::string_view data) {
    for (char byte : data) {
        if (std::uint8_t(byte) == IAC)
            wire += char(IAC);
        wire += byte;
    }
}

std::string CTelnetCodec::Escape(std::string_view data) {
    std::string wire;
    wire.reserve(data.size());
    AppendEscaped(wire, data);
    return wire;
}

std::string CTelnetCodec::Answer(std::uint8_t code, std::string_view value) {
    std::string wire{char(IAC), char(SB), char(COM_PORT_OPTION), char(code + ANSWER_OFFSET)};
    AppendEscaped(wire, value);
    wire += char(IAC);
    wire += char(SE);
    return wire;
}

std::string CTelnetCodec::AnswerSignature(std::string_view text) {
    return Answer(SIGNATURE, text);
}

std::string CTelnetCodec::AnswerBaud(std::uint32_t baud) {
    const char value[4] = {char(baud >> 24), char(baud >> 16), char(baud >> 8), char(baud)};
    return Answer(SET_BAUDRATE, std::string_view(value, 4));
}

std::string CTelnetCodec::AnswerByte(std::uint8_t code, std::uint8_t value) {
    const char byte = char(value);
    return Answer(code, std::string_view(&byte, 1));
}

std::string CTelnetCodec::NotifyLineState(std::uint8_t state) {
    return AnswerByte(NOTIFY_LINESTATE, state);
}

std::string CTelnetCodec::NotifyModemState(std::uint8_t state) {
    return AnswerByte(NOTIFY_MODEMSTATE, state);
}
