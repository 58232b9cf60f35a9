#include "app/network/ComPortSession.h"

using namespace telnet;

namespace {

// The option's parity codes (1 none, 2 odd, 3 even, 4 mark, 5 space) and the port's.
constexpr CSerial::Parity kParities[] = {CSerial::parityNone, CSerial::parityOdd,
                                         CSerial::parityEven, CSerial::parityMark,
                                         CSerial::paritySpace};
// The option's stop codes (1 one, 2 two, 3 one and a half).
constexpr CSerial::StopBits kStops[] = {CSerial::stopOne, CSerial::stopTwo, CSerial::stopOneHalf};

std::uint8_t ParityCode(CSerial::Parity parity) {
    for (std::uint8_t i = 0; i < 5; ++i)
        if (kParities[i] == parity)
            return std::uint8_t(i + 1);
    return 1;
}

std::uint8_t StopCode(CSerial::StopBits stop) {
    for (std::uint8_t i = 0; i < 3; ++i)
        if (kStops[i] == stop)
            return std::uint8_t(i + 1);
    return 1;
}

// The flow control in force as the option counts it, outbound (1..3) or inbound (14..16).
std::uint8_t FlowCode(CSerial::Handshaking handshaking, bool inbound) {
    const std::uint8_t code = handshaking == CSerial::handshakeSoftware   ? 2
                              : handshaking == CSerial::handshakeHardware ? 3
                                                                          : 1;
    return inbound ? std::uint8_t(code + 13) : code;
}

} // namespace

void RestoreLine(CSerial& port, const ConfiguredLine& line) {
    port.Setup(CSerial::Baudrate(line.baud), line.dataBits, line.parity, line.stopBits);
    port.SetupHandshaking(line.flow);
    port.SetBreak(false);
    port.SetDTR(true);
    port.SetRTS(true);
}

CComPortSession::CComPortSession(CSerial& port, std::string signature,
                                 std::shared_ptr<PortFacts> facts)
    : m_port(port), m_signature(std::move(signature)),
      m_pFacts(facts ? std::move(facts) : std::make_shared<PortFacts>()) {}

namespace {

// Commands that change what the port does with the bytes before them.
bool ChangesLine(const ComCommand& command) {
    switch (command.code) {
    case SET_BAUDRATE:
        return command.Number() != 0;
    case SET_DATASIZE:
    case SET_PARITY:
    case SET_STOPSIZE:
        return command.Byte() != 0;
    case SET_CONTROL:
    case PURGE_DATA:
        return true;
    default:
        return false;
    }
}

} // namespace

bool CComPortSession::FromWire(std::string_view wire, const Outlet& outlet, std::string& reply,
                               std::vector<std::string>& events) {
    if (m_bWaits) { // the caller should feed nothing meanwhile; what came anyway goes after
        m_strLater.append(wire);
        return Resume(outlet, reply, events);
    }
    m_codec.Feed(wire, m_in);
    reply += m_in.reply;
    m_nCommand = 0;
    m_nDone = 0;
    m_bWaits = true;
    return Resume(outlet, reply, events);
}

bool CComPortSession::Resume(const Outlet& outlet, std::string& reply,
                             std::vector<std::string>& events) {
    if (!m_bWaits)
        return true;
    const std::string_view data = m_in.data;
    for (; m_nCommand < m_in.commands.size(); ++m_nCommand) {
        const ComCommand& command = m_in.commands[m_nCommand];
        if (command.at > m_nDone)
            outlet.toDevice(data.substr(m_nDone, command.at - m_nDone));
        m_nDone = std::max(m_nDone, command.at);
        if (ChangesLine(command) && outlet.settled && !outlet.settled())
            return false;
        reply += Apply(command);
    }
    if (m_nDone < data.size())
        outlet.toDevice(data.substr(m_nDone));
    m_nDone = data.size();
    for (const TelnetDropped& dropped : m_in.dropped)
        events.push_back(TelnetDropText(dropped));
    m_bWaits = false;
    if (m_strLater.empty())
        return true;
    const std::string strLater = std::move(m_strLater);
    m_strLater.clear();
    return FromWire(strLater, outlet, reply, events);
}

std::string CComPortSession::Apply(const ComCommand& command) {
    const std::uint8_t value = command.Byte();
    switch (command.code) {
    case SIGNATURE:
        return CTelnetCodec::AnswerSignature(m_signature);
    case SET_BAUDRATE:
        if (command.Number() != 0) {
            m_port.Setup(CSerial::Baudrate(command.Number()), m_port.GetDataBits(),
                         m_port.GetParity(), m_port.GetStopBits());
            KeepSwitches();
            m_bSetLine = true;
        }
        return CTelnetCodec::AnswerBaud(
            std::uint32_t(std::max<std::int32_t>(m_port.GetBaudrate(), 0)));
    case SET_DATASIZE:
        if (value >= 5 && value <= 8) {
            m_port.Setup(m_port.GetBaudrate(), CSerial::DataBits(value), m_port.GetParity(),
                         m_port.GetStopBits());
            KeepSwitches();
            m_bSetLine = true;
        }
        return CTelnetCodec::AnswerByte(
            SET_DATASIZE, std::uint8_t(std::max<std::int32_t>(m_port.GetDataBits(), 0)));
    case SET_PARITY:
        if (value >= 1 && value <= 5) {
            m_port.Setup(m_port.GetBaudrate(), m_port.GetDataBits(), kParities[value - 1],
                         m_port.GetStopBits());
            KeepSwitches();
            m_bSetLine = true;
        }
        return CTelnetCodec::AnswerByte(SET_PARITY, ParityCode(m_port.GetParity()));
    case SET_STOPSIZE:
        if (value >= 1 && value <= 3) {
            m_port.Setup(m_port.GetBaudrate(), m_port.GetDataBits(), m_port.GetParity(),
                         kStops[value - 1]);
            KeepSwitches();
            m_bSetLine = true;
        }
        return CTelnetCodec::AnswerByte(SET_STOPSIZE, StopCode(m_port.GetStopBits()));
    case SET_CONTROL:
        return CTelnetCodec::AnswerByte(SET_CONTROL, Control(value));
    case NOTIFY_LINESTATE:
        return CTelnetCodec::NotifyLineState(0);
    case NOTIFY_MODEMSTATE:
        m_lastModem = ModemState();
        return CTelnetCodec::NotifyModemState(std::uint8_t(m_lastModem));
    case FLOWCONTROL_SUSPEND:
        m_bSuspended = true;
        return "";
    case FLOWCONTROL_RESUME:
        m_bSuspended = false;
        return "";
    case SET_LINESTATE_MASK:
        m_lineMask = value;
        return CTelnetCodec::AnswerByte(SET_LINESTATE_MASK, value);
    case SET_MODEMSTATE_MASK:
        m_modemMask = value;
        return CTelnetCodec::AnswerByte(SET_MODEMSTATE_MASK, value);
    case PURGE_DATA:
        if (value == 1 || value == 3)
            m_port.PurgeInput();
        if (value == 2 || value == 3)
            m_port.PurgeOutput();
        return CTelnetCodec::AnswerByte(PURGE_DATA, value);
    default:
        return "";
    }
}

// SET-CONTROL: applied, then answered with the state in force. A line the port cannot report
// (DTR, RTS and break on any port, every line on a pseudo-terminal) is answered with the state
// last set.
std::uint8_t CComPortSession::Control(std::uint8_t value) {
    switch (value) {
    case 0:
    case 17:
    case 18:
    case 19:
        return FlowCode(m_port.GetHandshaking(), false);
    case 1:
    case 2:
    case 3:
    case 14:
    case 15:
    case 16: {
        static constexpr CSerial::Handshaking kFlows[] = {
            CSerial::handshakeOff, CSerial::handshakeSoftware, CSerial::handshakeHardware};
        const bool inbound = value >= 14;
        m_port.SetupHandshaking(kFlows[value - (inbound ? 14 : 1)]);
        KeepSwitches();
        m_bSetLine = true;
        return FlowCode(m_port.GetHandshaking(), inbound);
    }
    case 13:
        return FlowCode(m_port.GetHandshaking(), true);
    case 4:
    case 5:
    case 6:
        return Switch(value, 4, m_bBreak, &CSerial::SetBreak);
    case 7:
    case 8:
    case 9:
        return Switch(value, 7, m_bDtr, &CSerial::SetDTR);
    case 10:
    case 11:
    case 12:
        return Switch(value, 10, m_bRts, &CSerial::SetRTS);
    default:
        return FlowCode(m_port.GetHandshaking(), false);
    }
}

// A change of the line's settings drives DTR and RTS as those settings say: on, or off with
// XON/XOFF. The lines stay as the client last set them (on unless it switched them off), except
// under hardware flow control, which drives them itself.
void CComPortSession::KeepSwitches() {
    const CSerial::Handshaking flow = m_port.GetHandshaking();
    if (flow == CSerial::handshakeHardware)
        return;
    const bool bDriven = flow != CSerial::handshakeSoftware;
    if (m_bDtr != bDriven)
        m_port.SetDTR(m_bDtr);
    if (m_bRts != bDriven)
        m_port.SetRTS(m_bRts);
}

// A line the client asks about (ask), switches on (ask + 1) or off (ask + 2): answered with the
// state last set.
std::uint8_t CComPortSession::Switch(std::uint8_t value, std::uint8_t ask, bool& on,
                                     CSerial::LONG (CSerial::*set)(bool)) {
    if (value != ask) {
        on = value == ask + 1;
        (m_port.*set)(on);
        m_bSetLine = true;
    }
    return std::uint8_t(on ? ask + 1 : ask + 2);
}

// A port without modem lines (a pseudo-terminal) reports none, once asked.
std::uint8_t CComPortSession::ModemState() {
    if (m_pFacts->noModemLines)
        return 0;
    const std::uint8_t state =
        std::uint8_t((m_port.GetRLSD() ? 128 : 0) | (m_port.GetRing() ? 64 : 0) |
                     (m_port.GetDSR() ? 32 : 0) | (m_port.GetCTS() ? 16 : 0));
    m_pFacts->noModemLines = m_port.GetLastError() != 0;
    return m_pFacts->noModemLines ? 0 : state;
}

std::string CComPortSession::ModemNews() {
    const int state = ModemState();
    if (m_lastModem >= 0 && ((state ^ m_lastModem) & m_modemMask & 0xF0) == 0)
        return "";
    // The delta bits of the lines that changed.
    int deltas = 0;
    if (m_lastModem >= 0) {
        const int changed = state ^ m_lastModem;
        deltas = (changed & 128 ? 8 : 0) | (changed & 32 ? 2 : 0) | (changed & 16 ? 1 : 0) |
                 ((m_lastModem & 64) && !(state & 64) ? 4 : 0);
    }
    m_lastModem = state;
    return CTelnetCodec::NotifyModemState(std::uint8_t((state | deltas) & m_modemMask));
}

std::string CComPortSession::LineText() const {
    if (!m_bSetLine)
        return "";
    static const char kParityLetters[] = "NOEMS";
    static const char* const kStopTexts[] = {"1", "1.5", "2"};
    const CSerial::Parity parity = m_port.GetParity();
    const CSerial::StopBits stop = m_port.GetStopBits();
    std::string text = std::to_string(std::max<std::int32_t>(m_port.GetBaudrate(), 0)) + " " +
                       std::to_string(std::max<std::int32_t>(m_port.GetDataBits(), 0)) +
                       (parity >= 0 && parity <= 4 ? kParityLetters[parity] : '?') +
                       (stop >= 0 && stop <= 2 ? kStopTexts[stop] : "?");
    if (!m_bDtr)
        text += ", DTR off";
    if (!m_bRts)
        text += ", RTS off";
    if (m_port.GetHandshaking() == CSerial::handshakeHardware)
        text += ", RTS/CTS";
    else if (m_port.GetHandshaking() == CSerial::handshakeSoftware)
        text += ", XON/XOFF";
    return text;
}
