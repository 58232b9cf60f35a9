// One client's Telnet session with the COM port option: the codec, and the client's line
// commands applied to the port through CSerial and answered with what the port has then. The
// client's data goes to the device in order, each command applied where it came, so that bytes
// sent before a baud change still leave at the old rate.
#pragma once

#include "app/bridge/PortLine.h"
#include "app/network/TelnetCodec.h"
#include "serial/Serial.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The line the settings give (rate, format, flow control): each session starts from it, and it
// is put back when the last session ends.
using ConfiguredLine = PortLine;

// Puts the configured line on the port, whole: its rate, data bits, parity, stop bits and flow
// control, DTR and RTS on, no break.
void RestoreLine(CSerial& port, const ConfiguredLine& line);

// What the sessions on one open port learn of it once: a port without modem lines (a
// pseudo-terminal) is asked about them once, not by every session.
struct PortFacts {
    bool noModemLines = false;
};

class CComPortSession {
public:
    // signature: what a SIGNATURE request is answered with ("Varnel 1.0.0.1 COM3"); facts: shared
    // by the sessions of the port (one of its own when none is given).
    CComPortSession(CSerial& port, std::string signature,
                    std::shared_ptr<PortFacts> facts = nullptr);

    // The offers that open the session, for the client.
    std::string Start() { return m_codec.Start(); }

    // Where the client's data goes, and whether everything given to it has left the port (a change
    // of the line now hits no byte that came before it). Without settled, it always has.
    struct Outlet {
        std::function<void(std::string_view)> toDevice;
        std::function<bool()> settled = nullptr;
    };

    // Bytes from the client. The outlet gets its data in order; each command is applied to the
    // port at its place and its answer appended to reply, with the negotiation's answers; events
    // gets a line for each subnegotiation that was dropped. A command that changes the line waits
    // until the outlet has settled: then the rest stays here (Waits()), nothing more may be fed,
    // and Resume() goes on once it has. True when everything was handled.
    bool FromWire(std::string_view wire, const Outlet& outlet, std::string& reply,
                  std::vector<std::string>& events);
    bool Resume(const Outlet& outlet, std::string& reply, std::vector<std::string>& events);
    bool Waits() const { return m_bWaits; }

    // The device's bytes for the client.
    static std::string ToWire(std::string_view data) { return CTelnetCodec::Escape(data); }

    // The modem state for the client when it changed under its mask since the last call (or was
    // never sent), else empty.
    std::string ModemNews();

    // The client asked to be sent nothing for now (FLOWCONTROL-SUSPEND).
    bool Suspended() const { return m_bSuspended; }

    // The line as this client set it ("9600 8E1, DTR off"), empty while it set nothing.
    std::string LineText() const;

private:
    std::string Apply(const ComCommand& command);
    std::uint8_t Control(std::uint8_t value);
    std::uint8_t Switch(std::uint8_t value, std::uint8_t ask, bool& on,
                        CSerial::LONG (CSerial::*set)(bool));
    std::uint8_t ModemState();
    void KeepSwitches();

    CSerial& m_port;
    std::string m_signature;
    CTelnetCodec m_codec;
    TelnetInput m_in;
    bool m_bSuspended = false;
    bool m_bSetLine = false; // the client changed the line
    bool m_bDtr = true, m_bRts = true, m_bBreak = false;
    std::uint8_t m_modemMask = 0xFF;
    std::uint8_t m_lineMask = 0;
    int m_lastModem = -1; // the state last sent, -1 none
    std::shared_ptr<PortFacts> m_pFacts;
    // Where the handling of m_in stands while a command waits for the outlet.
    bool m_bWaits = false;
    std::size_t m_nCommand = 0;
    std::size_t m_nDone = 0;
    std::string m_strLater; // fed while a command waited
};
