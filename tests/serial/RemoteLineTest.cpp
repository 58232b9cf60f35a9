// A client's Telnet COM port session driving the port of the simulated device, which has what a
// pseudo-terminal lacks: modem lines, purge counts, and a line that can refuse a setting. Each
// answer tells what the device has, each purge empties the buffer the option names, and the end
// of the last session puts the configured line back with DTR and RTS on.
#include "app/network/ComPortSession.h"
#include "serial/comm/Faults.h"
#include "serial/comm/linux/SimDevice.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace telnet;

namespace {

constexpr std::uint32_t kConfigured = 19200;

std::string Command(std::uint8_t code, const std::string& value) {
    return std::string{char(IAC), char(SB), char(COM_PORT_OPTION), char(code)} + value +
           std::string{char(IAC), char(SE)};
}

std::string Rate(std::uint32_t baud) {
    return {char(baud >> 24), char(baud >> 16), char(baud >> 8), char(baud)};
}

class RemoteLine : public ::testing::Test {
protected:
    RemoteLine() {
        EXPECT_EQ(port.Open("SIM4", 2048, 2048), 0);
        RestoreLine(port, ConfiguredLine{kConfigured});
        outlet.toDevice = [this](std::string_view bytes) { toDevice += bytes; };
    }
    ~RemoteLine() override {
        comm::ClearFaults();
        port.Close();
    }

    // What the session answers to the client's bytes.
    std::string Send(const std::string& wire) {
        std::string reply;
        std::vector<std::string> events;
        EXPECT_TRUE(session.FromWire(wire, outlet, reply, events));
        return reply;
    }

    comm::SimDevice sim{"SIM4"};
    CSerial port;
    CComPortSession session{port, "Varnel test SIM4"};
    CComPortSession::Outlet outlet;
    std::string toDevice;
};

TEST_F(RemoteLine, EachAnswerTellsTheDevicesLineAndEachPurgeItsBuffer) {
    const struct {
        const char* label;
        std::string wire;
        bool refused; // the device refuses the next line change
        std::string answer;
        std::uint32_t baud; // the device's rate afterwards
        int inputPurges, outputPurges;
    } rows[] = {
        {"a rate", Command(SET_BAUDRATE, Rate(9600)), false, CTelnetCodec::AnswerBaud(9600), 9600,
         0, 0},
        {"a query", Command(SET_BAUDRATE, Rate(0)), false, CTelnetCodec::AnswerBaud(9600), 9600, 0,
         0},
        {"a rate the device refuses", Command(SET_BAUDRATE, Rate(57600)), true,
         CTelnetCodec::AnswerBaud(9600), 9600, 0, 0},
        // 1: the receive buffer, what came from the device; 2: the transmit buffer.
        {"purge receive", Command(PURGE_DATA, "\x01"), false,
         CTelnetCodec::AnswerByte(PURGE_DATA, 1), 9600, 1, 0},
        {"purge transmit", Command(PURGE_DATA, "\x02"), false,
         CTelnetCodec::AnswerByte(PURGE_DATA, 2), 9600, 1, 1},
        {"purge both", Command(PURGE_DATA, "\x03"), false, CTelnetCodec::AnswerByte(PURGE_DATA, 3),
         9600, 2, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        if (row.refused)
            comm::FailCall(comm::Call::SetCommState, 87);
        EXPECT_EQ(Send(row.wire), row.answer);
        EXPECT_EQ(sim.Line().baud, row.baud);
        EXPECT_EQ(sim.InputDiscards(), row.inputPurges);
        EXPECT_EQ(sim.OutputDiscards(), row.outputPurges);
        comm::ClearFaults();
    }
}

// DTR held off (a device in reset, say) stays off through a change of format or flow control,
// and the answers say so; when the last session ends the configured line is back, DTR and RTS
// on, no break.
TEST_F(RemoteLine, TheClientsLinesHoldUntilTheEndAndTheConfiguredLineComesBack) {
    EXPECT_EQ(Send(Command(SET_CONTROL, "\x09") + Command(SET_CONTROL, "\x0C") +
                   Command(SET_CONTROL, "\x05") + Command(SET_BAUDRATE, Rate(4800)) +
                   Command(SET_PARITY, "\x03") + Command(SET_CONTROL, "\x02")),
              CTelnetCodec::AnswerByte(SET_CONTROL, 9) + CTelnetCodec::AnswerByte(SET_CONTROL, 12) +
                  CTelnetCodec::AnswerByte(SET_CONTROL, 5) + CTelnetCodec::AnswerBaud(4800) +
                  CTelnetCodec::AnswerByte(SET_PARITY, 3) +
                  CTelnetCodec::AnswerByte(SET_CONTROL, 2));
    EXPECT_EQ(sim.OutputLines() & (comm::kLineDtr | comm::kLineRts), 0);
    EXPECT_TRUE(sim.Breaking());
    EXPECT_EQ(Send(Command(SET_CONTROL, "\x07")), CTelnetCodec::AnswerByte(SET_CONTROL, 9));
    EXPECT_EQ(session.LineText(), "4800 8E1, DTR off, RTS off, XON/XOFF");

    RestoreLine(port, ConfiguredLine{kConfigured});
    const comm::LineSettings line = sim.Line();
    EXPECT_EQ(line.baud, kConfigured);
    EXPECT_EQ(line.dataBits, 8);
    EXPECT_EQ(line.parity, 0);
    EXPECT_EQ(line.stopBits, 0);
    EXPECT_FALSE(line.ctsRtsFlow || line.xonXoffIn || line.xonXoffOut);
    EXPECT_EQ(sim.OutputLines(), comm::kLineDtr | comm::kLineRts);
    EXPECT_FALSE(sim.Breaking());
}

} // namespace
