// A client's Telnet COM port session on the simulated device, with any bytes from the client.
// The input is a control byte (bit 0: the port refuses its next line changes; bit 1: the outlet
// is slow to settle; bits 2-5: the device's modem lines), then the wire, fed in blocks of the
// sizes its own bytes give. Every reply is well formed: negotiation, or answers of a known code
// with a value of its length, and no data. Each answer tells the device's real line: the last
// rate, data bits, parity, stop bits, break, modem state and purge answered are what the device
// has or did. When the session ends, the configured line, DTR and RTS come back.
#include "FuzzCheck.h"

#include "app/network/ComPortSession.h"
#include "serial/comm/Faults.h"
#include "serial/comm/linux/SimDevice.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

using namespace telnet;

namespace {

constexpr std::uint32_t kConfiguredBaud = 19200;

struct Port {
    comm::SimDevice sim{"FUZZ1"};
    CSerial serial;
    Port() {
        if (serial.Open("FUZZ1", 2048, 2048) != 0)
            std::abort();
        RestoreLine(serial, ConfiguredLine{kConfiguredBaud});
    }
};

Port& ThePort() {
    static Port* port = new Port; // lives as long as the process: the fuzzer never ends it
    return *port;
}

// One answer: its command's code (without the offset) and value, unescaped.
struct Answer {
    std::uint8_t code;
    std::string value;
};

// Reads a reply; aborts on anything but negotiation and COM port answers.
std::vector<Answer> Answers(const std::string& reply) {
    std::vector<Answer> answers;
    std::size_t i = 0;
    auto at = [&](std::size_t k) -> std::uint8_t {
        FUZZ_CHECK(k < reply.size());
        return std::uint8_t(reply[k]);
    };
    while (i < reply.size()) {
        FUZZ_CHECK(at(i) == IAC);
        const std::uint8_t verb = at(i + 1);
        if (verb >= WILL && verb <= DONT) {
            at(i + 2);
            i += 3;
            continue;
        }
        FUZZ_CHECK(verb == SB && at(i + 2) == COM_PORT_OPTION);
        const std::uint8_t code = at(i + 3);
        FUZZ_CHECK(code >= ANSWER_OFFSET && code <= ANSWER_OFFSET + LAST_COMMAND);
        Answer answer{std::uint8_t(code - ANSWER_OFFSET), {}};
        for (i += 4;; ++i) {
            if (at(i) == IAC) {
                if (at(i + 1) == SE)
                    break;
                FUZZ_CHECK(at(i + 1) == IAC);
                ++i;
            }
            answer.value += char(at(i));
        }
        i += 2;
        const std::size_t length = answer.value.size();
        switch (answer.code) {
        case SIGNATURE:
            break;
        case SET_BAUDRATE:
            FUZZ_CHECK(length == 4);
            break;
        case FLOWCONTROL_SUSPEND:
        case FLOWCONTROL_RESUME:
            FUZZ_CHECK(false); // never answered
            break;
        default:
            FUZZ_CHECK(length == 1);
        }
        answers.push_back(answer);
    }
    return answers;
}

std::uint32_t Baud(const std::string& value) {
    return std::uint32_t(std::uint8_t(value[0])) << 24 |
           std::uint32_t(std::uint8_t(value[1])) << 16 |
           std::uint32_t(std::uint8_t(value[2])) << 8 | std::uint8_t(value[3]);
}

// What the device has now against the last answer of each kind.
void CheckLine(Port& port, const std::vector<Answer>& answers, int inputLines) {
    std::map<int, std::uint8_t> last; // a kind of answer: its last value
    std::optional<std::uint32_t> baud;
    for (const Answer& answer : answers) {
        if (answer.code == SET_BAUDRATE)
            baud = Baud(answer.value);
        else if (answer.code == SET_CONTROL)
            last[100 + (answer.value[0] - 1) / 3] = std::uint8_t(answer.value[0]);
        else if (answer.code != SIGNATURE)
            last[answer.code] = std::uint8_t(answer.value[0]);
    }
    const comm::LineSettings line = port.sim.Line();
    if (baud)
        FUZZ_CHECK(*baud == line.baud);
    if (last.count(SET_DATASIZE))
        FUZZ_CHECK(last[SET_DATASIZE] == line.dataBits);
    if (last.count(SET_PARITY))
        FUZZ_CHECK(last[SET_PARITY] == line.parity + 1);
    if (last.count(SET_STOPSIZE)) {
        static const std::uint8_t kCodes[] = {1, 3, 2}; // one, one and a half, two
        FUZZ_CHECK(last[SET_STOPSIZE] == kCodes[line.stopBits]);
    }
    if (last.count(101)) // break: 5 on, 6 off
        FUZZ_CHECK((last[101] == 5) == port.sim.Breaking());
    if (last.count(102) && !line.ctsRtsFlow) // DTR: 8 on, 9 off
        FUZZ_CHECK((last[102] == 8) == ((port.sim.OutputLines() & comm::kLineDtr) != 0));
    // A modem state never tells a line the device does not hold up.
    for (const Answer& answer : answers)
        if (answer.code == NOTIFY_MODEMSTATE)
            FUZZ_CHECK((std::uint8_t(answer.value[0]) & 0xF0 & ~inputLines) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > 4096)
        return 0;
    Port& port = ThePort();
    const std::uint8_t control = data[0];
    const std::string wire(reinterpret_cast<const char*>(data + 1), size - 1);
    // CTS 16, DSR 32, RI 64, DCD 128 as the option counts them.
    const int lines = control >> 2 & 0xF;
    port.sim.SetInputLines((lines & 1 ? comm::kLineCts : 0) | (lines & 2 ? comm::kLineDsr : 0) |
                           (lines & 4 ? comm::kLineRing : 0) | (lines & 8 ? comm::kLineDcd : 0));
    const int inputLines =
        (lines & 1 ? 16 : 0) | (lines & 2 ? 32 : 0) | (lines & 4 ? 64 : 0) | (lines & 8 ? 128 : 0);
    if (control & 1)
        comm::FailCall(comm::Call::SetCommState, 87 /* invalid parameter */, 2);

    bool slow = (control & 2) != 0;
    std::string toDevice;
    CComPortSession::Outlet outlet;
    outlet.toDevice = [&](std::string_view bytes) { toDevice += bytes; };
    outlet.settled = [&] { return !slow; };
    {
        CComPortSession session(port.serial, "Varnel fuzz FUZZ1");
        const std::string start = session.Start();
        FUZZ_CHECK(Answers(start).empty());
        std::size_t at = 0;
        while (at < wire.size()) {
            const std::size_t length =
                std::min<std::size_t>(wire.size() - at, 1 + std::uint8_t(wire[at]) % 64);
            const int inputBefore = port.sim.InputDiscards();
            const int outputBefore = port.sim.OutputDiscards();
            std::string reply;
            std::vector<std::string> events;
            bool done =
                session.FromWire(std::string_view(wire).substr(at, length), outlet, reply, events);
            for (int round = 0; !done; ++round) {
                FUZZ_CHECK(session.Waits() && round < 2);
                slow = false; // the port has sent it all now
                done = session.Resume(outlet, reply, events);
            }
            FUZZ_CHECK(!session.Waits());
            const std::vector<Answer> answers = Answers(reply);
            CheckLine(port, answers, inputLines);
            int purgedIn = 0, purgedOut = 0;
            for (const Answer& answer : answers) {
                if (answer.code != PURGE_DATA)
                    continue;
                const std::uint8_t what = std::uint8_t(answer.value[0]);
                purgedIn += what == 1 || what == 3; // the receive buffer: from the device
                purgedOut += what == 2 || what == 3;
            }
            FUZZ_CHECK(port.sim.InputDiscards() - inputBefore == purgedIn);
            FUZZ_CHECK(port.sim.OutputDiscards() - outputBefore == purgedOut);
            FUZZ_CHECK(Answers(session.ModemNews()).size() <= 1);
            at += length;
        }
        FUZZ_CHECK(toDevice.size() <= wire.size());
    }
    comm::ClearFaults();
    // The last session ended: the configured line is back.
    RestoreLine(port.serial, ConfiguredLine{kConfiguredBaud});
    const comm::LineSettings line = port.sim.Line();
    FUZZ_CHECK(line.baud == kConfiguredBaud && line.dataBits == 8 && line.parity == 0 &&
               line.stopBits == 0 && !line.ctsRtsFlow && !line.xonXoffOut && !line.xonXoffIn);
    FUZZ_CHECK(port.sim.OutputLines() == (comm::kLineDtr | comm::kLineRts));
    FUZZ_CHECK(!port.sim.Breaking());
    return 0;
}
