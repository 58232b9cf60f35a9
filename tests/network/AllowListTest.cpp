// The allow-list's reading of the setting: what parses, what names its bad entry, and whom the
// result lets in.
#include "app/network/AllowList.h"
#include "app/network/Address.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::uint32_t Ip(const char* text) {
    return ParseIpv4(text).value();
}

TEST(AllowList, GoodListsLetInExactlyTheirAddresses) {
    struct Case {
        const char* text;
        bool everyone;
        std::vector<const char*> allowed;
        std::vector<const char*> refused;
    };
    const Case cases[] = {
        {"", true, {"127.0.0.1", "8.8.8.8"}, {}},
        {" \t ", true, {"10.1.2.3"}, {}},
        {"127.0.0.1", false, {"127.0.0.1"}, {"127.0.0.2", "0.0.0.0"}},
        {" 127.0.0.1 , 192.168.10.0/24",
         false,
         {"127.0.0.1", "192.168.10.0", "192.168.10.255"},
         {"192.168.11.0", "192.168.9.255", "127.0.0.2"}},
        {"10.0.0.0/8,\t172.16.0.0/12",
         false,
         {"10.255.0.1", "172.31.255.255"},
         {"172.32.0.0", "11.0.0.0"}},
        {"0.0.0.0/0", false, {"0.0.0.0", "255.255.255.255"}, {}},
        {"203.0.113.7/32", false, {"203.0.113.7"}, {"203.0.113.6"}},
    };
    for (const Case& c : cases) {
        std::string bad = "unset";
        const std::optional<CAllowList> list = CAllowList::Parse(c.text, &bad);
        ASSERT_TRUE(list) << '"' << c.text << "\" named " << bad;
        EXPECT_EQ(list->Everyone(), c.everyone) << c.text;
        for (const char* address : c.allowed)
            EXPECT_TRUE(list->Allows(Ip(address))) << c.text << " / " << address;
        for (const char* address : c.refused)
            EXPECT_FALSE(list->Allows(Ip(address))) << c.text << " / " << address;
    }
}

TEST(AllowList, AnEntryThatDoesNotParseIsNamedAndNothingIsAllowed) {
    struct Case {
        const char* text;
        const char* bad;
    };
    const Case cases[] = {
        {"192.168.1.0/33", "192.168.1.0/33"},
        {"127.0.0.1, localhost", "localhost"},
        {"256.1.1.1", "256.1.1.1"},
        {"127.1", "127.1"},
        {"010.0.0.1", "010.0.0.1"},
        {"1.2.3.4.5", "1.2.3.4.5"},
        {"1.2.3.", "1.2.3."},
        {"127.0.0.1,,10.0.0.1", ""},
        {"127.0.0.1 ,", ""},
        {", 127.0.0.1", ""},
        {"10.0.0.1/", "10.0.0.1/"},
        {"10.0.0.0/08", "10.0.0.0/08"},
        {"10.0.0.0/ 8", "10.0.0.0/ 8"},
        {"192.168.10.5/24", "192.168.10.5/24"},
        {"1.2.3.4 5.6.7.8", "1.2.3.4 5.6.7.8"},
        {"1.2.3.4;5.6.7.8", "1.2.3.4;5.6.7.8"},
        {"-1.2.3.4", "-1.2.3.4"},
        {"::1", "::1"},
    };
    for (const Case& c : cases) {
        std::string bad = "unset";
        EXPECT_FALSE(CAllowList::Parse(c.text, &bad)) << c.text;
        EXPECT_EQ(bad, c.bad) << c.text;
    }
}

} // namespace
