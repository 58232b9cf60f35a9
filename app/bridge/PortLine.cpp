#include "app/bridge/PortLine.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace {

constexpr char kParityLetters[] = "NOEMS"; // by CSerial::Parity
constexpr const char* kStopTexts[] = {"1", "1.5", "2"};

std::string Upper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

std::string RateRule() {
    return "a whole number of bits per second from " + std::to_string(LOWEST_RATE) + " to " +
           std::to_string(HIGHEST_RATE);
}

// "8E1": data bits 5 to 8, a parity letter, stop bits 1, 1.5 or 2; why not, when it is not.
std::string ParseFormat(std::string_view text, PortLine& line) {
    const std::string format = Upper(text);
    if (format.size() < 3 || format[0] < '5' || format[0] > '8')
        return "is no format: data bits 5 to 8, parity N, E, O, M or S, stop bits 1, 1.5 or 2 "
               "(8N1, 7E1, 8N2 ...)";
    const std::size_t parity = std::string_view(kParityLetters).find(format[1]);
    std::optional<CSerial::StopBits> stop;
    const std::string_view stopText = std::string_view(format).substr(2);
    for (int i = 0; i < 3; ++i)
        if (stopText == kStopTexts[i])
            stop = static_cast<CSerial::StopBits>(i);
    if (parity == std::string_view::npos || !stop)
        return ParseFormat("", line);
    const int dataBits = format[0] - '0';
    if (*stop == CSerial::stopOneHalf && dataBits != 5)
        return "has 1.5 stop bits, which go with 5 data bits only";
    if (*stop == CSerial::stopTwo && dataBits == 5)
        return "has 2 stop bits, which do not go with 5 data bits (5N1.5 is the longer stop)";
    line.dataBits = static_cast<CSerial::DataBits>(dataBits);
    line.parity = static_cast<CSerial::Parity>(parity);
    line.stopBits = *stop;
    return "";
}

std::string KeyError(const char* key, const std::string& value, const std::string& why) {
    return std::string(key) + "=" + value + " in [COM] " + why;
}

} // namespace

bool ParseRate(std::string_view text, std::uint32_t& rate) {
    if (text.empty() || text.size() > 7)
        return false;
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (value < LOWEST_RATE || value > HIGHEST_RATE)
        return false;
    rate = value;
    return true;
}

std::string ApplyPortLineKeys(const PortLineKeys& keys, PortLine& line) {
    std::string errors;
    const auto add = [&errors](const std::string& error) {
        errors += (errors.empty() ? "" : "\n") + error;
    };
    if (!keys.rate.empty() && !ParseRate(keys.rate, line.baud))
        add(KeyError("RATE", keys.rate, "is no rate: " + RateRule()));
    if (!keys.format.empty()) {
        PortLine format = line;
        const std::string why = ParseFormat(keys.format, format);
        if (why.empty())
            line = format;
        else
            add(KeyError("FORMAT", keys.format, why));
    }
    if (!keys.flow.empty()) {
        const std::string flow = Upper(keys.flow);
        if (flow == "NONE")
            line.flow = CSerial::handshakeOff;
        else if (flow == "RTSCTS")
            line.flow = CSerial::handshakeHardware;
        else if (flow == "XONXOFF")
            line.flow = CSerial::handshakeSoftware;
        else
            add(KeyError("FLOW", keys.flow, "is none of NONE, RTSCTS and XONXOFF"));
    }
    return errors;
}

std::string DescribeTypedRateError(const std::string& text) {
    return "the baud box holds \"" + text + "\", which is no rate: " + RateRule();
}

std::string FormatText(const PortLine& line) {
    const int parity = line.parity;
    const int stop = line.stopBits;
    return std::to_string(static_cast<int>(line.dataBits)) +
           (parity >= 0 && parity <= 4 ? kParityLetters[parity] : '?') +
           (stop >= 0 && stop <= 2 ? kStopTexts[stop] : "?");
}

std::string PortLineText(const PortLine& line) {
    std::string text = std::to_string(line.baud) + " " + FormatText(line);
    if (line.flow == CSerial::handshakeHardware)
        text += ", RTS/CTS";
    else if (line.flow == CSerial::handshakeSoftware)
        text += ", XON/XOFF";
    return text;
}

PortLine ReadPortLine(CSerial& port) {
    PortLine line;
    line.baud = static_cast<std::uint32_t>(std::max<std::int32_t>(port.GetBaudrate(), 0));
    line.dataBits = port.GetDataBits();
    line.parity = port.GetParity();
    line.stopBits = port.GetStopBits();
    line.flow = port.GetHandshaking();
    return line;
}

std::string DescribePortLineMismatch(const PortLine& wanted, const PortLine& held) {
    std::string why;
    const auto add = [&why](const std::string& part) { why += (why.empty() ? "" : "; ") + part; };
    if (held.baud != wanted.baud)
        add("the port runs at " + std::to_string(held.baud) + " where " +
            std::to_string(wanted.baud) + " was asked (a rate its driver does not take)");
    if (FormatText(held) != FormatText(wanted))
        add("the port runs " + FormatText(held) + " where " + FormatText(wanted) +
            " was asked (a pseudo-terminal, for one, keeps 8 bits without parity)");
    if (held.flow != wanted.flow) {
        const auto flowText = [](CSerial::Handshaking flow) {
            return flow == CSerial::handshakeHardware   ? "RTS/CTS"
                   : flow == CSerial::handshakeSoftware ? "XON/XOFF"
                                                        : "no flow control";
        };
        add(std::string("the port keeps ") + flowText(held.flow) + " where " +
            flowText(wanted.flow) + " was asked");
    }
    return why;
}

const char* PortMap(int nIndex) {
    static const char* const kPorts[] = {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7"};
    if (nIndex < 0 || nIndex >= static_cast<int>(std::size(kPorts)))
        return "COM3";
    return kPorts[nIndex];
}

std::uint32_t BaudMap(int nIndex) {
    static const std::uint32_t kRates[] = {300, 1200, 9600, 38400, 57600, 115200};
    if (nIndex < 0 || nIndex >= static_cast<int>(std::size(kRates)))
        return 115200;
    return kRates[nIndex];
}
