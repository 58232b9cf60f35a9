// The texts made from a block, on every platform: the Windows build runs this under Wine, where
// the C library's formatting of 64-bit counts and dates is another one.
#include "app/bridge/TrafficText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const SYSTEMTIME kWhen{2026, 12, 0, 6, 10, 14, 2, 999};

TEST(TrafficText, HeadersAndLogEntriesCarryTheCountAndTheTime) {
    struct Case {
        long long size;
        const char* pane;
        const char* log;
    } cases[] = {
        {5, "\r\nRecv COM 5 Bytes Data at Time 12/06/26 10:14:02:\r\n",
         "Receive 5 bytes data from SPP(COM) at 2026-12-06 10:14:02  :\r\nbody \r\n\r\n"},
        {9000000000LL, "\r\nRecv COM 9000000000 Bytes Data at Time 12/06/26 10:14:02:\r\n",
         "Receive 9000000000 bytes data from SPP(COM) at 2026-12-06 10:14:02  :\r\nbody \r\n\r\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PaneHeader("COM", c.size, kWhen), c.pane);
        EXPECT_EQ(LogEntry("body", c.size, false, kWhen), c.log);
    }
    EXPECT_EQ(PaneHeader("TCP", 2, SYSTEMTIME{2100, 1, 0, 2, 0, 0, 0, 0}),
              "\r\nRecv TCP 2 Bytes Data at Time 01/02/00 00:00:00:\r\n");
    EXPECT_EQ(LogEntry("01 A0 ", 2, true, kWhen),
              "Receive 2 bytes data from orvan(TCP) at 2026-12-06 10:14:02 :\r\n01 A0  \r\n\r\n");
    // A block from one of several clients names it; the longest count and address still fit.
    EXPECT_EQ(PaneHeader("TCP", 9000000000LL, kWhen, "255.255.255.255:65535"),
              "\r\nRecv TCP 9000000000 Bytes Data from 255.255.255.255:65535 at Time 12/06/26 "
              "10:14:02:\r\n");
    EXPECT_EQ(LogEntry("01 ", 9000000000LL, true, kWhen, "255.255.255.255:65535"),
              "Receive 9000000000 bytes data from orvan(TCP) 255.255.255.255:65535 at 2026-12-06 "
              "10:14:02 :\r\n01  \r\n\r\n");
    EXPECT_EQ(LogFileName(kWhen), "2026-12-06.log");
    EXPECT_EQ(LogFileName(SYSTEMTIME{2027, 1, 5, 1, 0, 0, 0, 0}), "2027-01-01.log");
}

TEST(TrafficText, BodiesInTextAndHexForms) {
    const std::string bytes("AB\0\xff\x80\r\n", 7);
    EXPECT_EQ(TextBody(bytes.data(), bytes.size()), "AB");
    EXPECT_EQ(TextBody(bytes.data() + 3, 4), "\xff\x80\r\n");
    EXPECT_EQ(HexBody(bytes.data(), bytes.size(), false), "41 42 00 FF 80 0D 0A ");
    EXPECT_EQ(HexBody(bytes.data(), 4, true), "0x41 0x42 0x00 0xFF ");
    std::string out = "x";
    AppendHexBody(out, "\x01", 1, false);
    EXPECT_EQ(out, "x01 ");
    EXPECT_EQ(HexBody(bytes.data(), 0, true), "");
}

} // namespace
