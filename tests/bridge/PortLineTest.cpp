// The serial line from the settings file's [COM] keys, its words, and a port that holds another.
#include "app/bridge/PortLine.h"

#include <gtest/gtest.h>

namespace {

PortLine Line(std::uint32_t baud, int data, CSerial::Parity parity, CSerial::StopBits stop,
              CSerial::Handshaking flow = CSerial::handshakeOff) {
    return PortLine{baud, static_cast<CSerial::DataBits>(data), parity, stop, flow};
}

TEST(PortLine, KeysGiveTheLineOrAnErrorNamingTheKey) {
    const struct {
        PortLineKeys keys;
        PortLine line; // from 9600 8N1 without flow control
        std::string error;
    } rows[] = {
        {{}, Line(9600, 8, CSerial::parityNone, CSerial::stopOne), ""},
        {{"19200", "8E1", ""}, Line(19200, 8, CSerial::parityEven, CSerial::stopOne), ""},
        {{"300", "7e1", "xonxoff"},
         Line(300, 7, CSerial::parityEven, CSerial::stopOne, CSerial::handshakeSoftware),
         ""},
        {{"50", "5S1.5", "RTSCTS"},
         Line(50, 5, CSerial::paritySpace, CSerial::stopOneHalf, CSerial::handshakeHardware),
         ""},
        {{"4000000", "7M2", "NONE"}, Line(4000000, 7, CSerial::parityMark, CSerial::stopTwo), ""},
        {{"8O1", "", ""},
         Line(9600, 8, CSerial::parityNone, CSerial::stopOne),
         "RATE=8O1 in [COM] is no rate: a whole number of bits per second from 50 to 4000000"},
        {{"49", "", ""},
         Line(9600, 8, CSerial::parityNone, CSerial::stopOne),
         "RATE=49 in [COM] is no rate: a whole number of bits per second from 50 to 4000000"},
        {{"4000001", "", ""},
         Line(9600, 8, CSerial::parityNone, CSerial::stopOne),
         "RATE=4000001 in [COM] is no rate: a whole number of bits per second from 50 to 4000000"},
        {{"99999999999", "", ""},
         Line(9600, 8, CSerial::parityNone, CSerial::stopOne),
         "RATE=99999999999 in [COM] is no rate: a whole number of bits per second from 50 to "
         "4000000"},
        {{"", "9N1", ""},
         Line(9600, 8, CSerial::parityNone, CSerial::stopOne),
         "FORMAT=9N1 in [COM] is no format: data bits 5 to 8, parity N, E, O, M or S, stop bits 1, "
         "1.5 or 2 (8N1, 7E1, 8N2 ...)"},
        {{"", "8X1", "NONE"},
         Line(9600, 8, CSerial::parityNone, CSerial::stopOne),
         "FORMAT=8X1 in [COM] is no format: data bits 5 to 8, parity N, E, O, M or S, stop bits 1, "
         "1.5 or 2 (8N1, 7E1, 8N2 ...)"},
        {{"", "8N3", ""},
         Line(9600, 8, CSerial::parityNone, CSerial::stopOne),
         "FORMAT=8N3 in [COM] is no format: data bits 5 to 8, parity N, E, O, M or S, stop bits 1, "
         "1.5 or 2 (8N1, 7E1, 8N2 ...)"},
        {{"", "8N1.5", ""},
         Line(9600, 8, CSerial::parityNone, CSerial::stopOne),
         "FORMAT=8N1.5 in [COM] has 1.5 stop bits, which go with 5 data bits only"},
        {{"", "5N2", ""},
         Line(9600, 8, CSerial::parityNone, CSerial::stopOne),
         "FORMAT=5N2 in [COM] has 2 stop bits, which do not go with 5 data bits (5N1.5 is the "
         "longer stop)"},
        // Every key in error is named; the good ones still apply.
        {{"fast", "8E1", "CTS"},
         Line(9600, 8, CSerial::parityEven, CSerial::stopOne),
         "RATE=fast in [COM] is no rate: a whole number of bits per second from 50 to 4000000\n"
         "FLOW=CTS in [COM] is none of NONE, RTSCTS and XONXOFF"},
    };
    for (const auto& row : rows) {
        PortLine line = Line(9600, 8, CSerial::parityNone, CSerial::stopOne);
        EXPECT_EQ(ApplyPortLineKeys(row.keys, line), row.error) << row.keys.rate << row.keys.format;
        EXPECT_EQ(line, row.line) << row.keys.rate << row.keys.format << row.keys.flow;
    }
    std::uint32_t rate = 7;
    for (const char* text : {"", "+9600", " 9600", "9600 ", "96OO", "-50", "0x100"})
        EXPECT_FALSE(ParseRate(text, rate)) << text;
    EXPECT_EQ(rate, 7u);
    EXPECT_EQ(DescribeTypedRateError("abc"),
              "the baud box holds \"abc\", which is no rate: a whole "
              "number of bits per second from 50 to 4000000");
}

TEST(PortLine, WordsAndWhatThePortDidNotTake) {
    EXPECT_EQ(PortLineText(Line(19200, 8, CSerial::parityEven, CSerial::stopOne,
                                CSerial::handshakeHardware)),
              "19200 8E1, RTS/CTS");
    EXPECT_EQ(PortLineText(Line(115200, 8, CSerial::parityNone, CSerial::stopOne)), "115200 8N1");
    EXPECT_EQ(PortLineText(Line(75, 5, CSerial::parityOdd, CSerial::stopOneHalf,
                                CSerial::handshakeSoftware)),
              "75 5O1.5, XON/XOFF");

    const PortLine wanted =
        Line(19200, 7, CSerial::parityEven, CSerial::stopOne, CSerial::handshakeHardware);
    EXPECT_EQ(DescribePortLineMismatch(wanted, wanted), "");
    // A pseudo-terminal keeps 8 bits without parity; a driver may not take a rate or flow control.
    EXPECT_EQ(DescribePortLineMismatch(wanted, Line(19200, 8, CSerial::parityNone, CSerial::stopOne,
                                                    CSerial::handshakeHardware)),
              "the port runs 8N1 where 7E1 was asked (a pseudo-terminal, for one, keeps 8 bits "
              "without parity)");
    EXPECT_EQ(DescribePortLineMismatch(wanted, Line(38400, 7, CSerial::parityEven, CSerial::stopOne,
                                                    CSerial::handshakeOff)),
              "the port runs at 38400 where 19200 was asked (a rate its driver does not take); "
              "the port keeps no flow control where RTS/CTS was asked");
}

} // namespace
