// The texts of an outage: the status line while a side is retried and the events file's lines.
#include "app/bridge/OutageText.h"

#include <gtest/gtest.h>

namespace {

const SYSTEMTIME kFrom{2026, 12, 2, 8, 9, 5, 7, 0};
const SYSTEMTIME kTo{2026, 12, 2, 8, 9, 6, 1, 0};

TEST(OutageText, StatusLinesTooltipsAndEventLines) {
    EXPECT_EQ(RetryStatus(true, 3), "重连服务器 第3次");
    EXPECT_EQ(RetryStatus(false, 1), "重连串口 第1次");

    OutageFacts server{true, "the server closed the connection", kFrom, kTo, 54000, 4096, 120, 0,
                       ""};
    EXPECT_EQ(RetryTip(server, 1500),
              "the server closed the connection\nDown since 09:05:07; next attempt in 2 s\n"
              "4096 bytes from the device wait for the server");
    // The drop's cause stays the outage's reason; a failed attempt only adds a line meanwhile.
    server.lastAttempt = "connecting to 127.0.0.1:5000 failed: connection refused";
    EXPECT_EQ(RetryTip(server, 0),
              "the server closed the connection\nDown since 09:05:07; next attempt in 0 s\n"
              "Last attempt: connecting to 127.0.0.1:5000 failed: connection refused\n"
              "4096 bytes from the device wait for the server");
    EXPECT_EQ(LastOutageTip(server),
              "Last outage: 09:05:07 to 09:06:01 (54 s), the server closed the connection; 4096 "
              "bytes held and sent, 120 bytes sent again, 0 bytes dropped");
    EXPECT_EQ(EventLine(kTo, server, "back after 54 s"),
              "2026-12-08 09:06:01 server back after 54 s: the server closed the connection; "
              "held 4096, sent again 120, dropped 0\r\n");

    OutageFacts device{false, "/dev/ttyUSB0 was removed", kFrom, kTo, 1, 1, 0, 0, ""};
    EXPECT_EQ(LastOutageTip(device), "Last outage: 09:05:07 to 09:06:01 (1 s), /dev/ttyUSB0 was "
                                     "removed; 1 byte from the server not delivered");
    EXPECT_EQ(EventLine(kFrom, device, "dropped"),
              "2026-12-08 09:05:07 device dropped: /dev/ttyUSB0 was removed; from the server not "
              "delivered 1\r\n");
    EXPECT_EQ(EventsFileName(kFrom), "2026-12-08.events.log");
}

} // namespace
