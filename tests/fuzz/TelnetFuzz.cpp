// The Telnet codec on any bytes from the network. The input is two split points (a byte each,
// scaled to the rest), then the wire. What the codec reads does not depend on where the wire is
// split; data is never longer than what was fed, and the negotiation's answers are bounded by it;
// every command's value has the length its code takes; a dropped subnegotiation kept no more than
// the bound. The device's data, escaped, reads back exactly from a peer that agreed to BINARY.
#include "FuzzCheck.h"

#include "app/network/TelnetCodec.h"

#include <string>
#include <string_view>
#include <vector>

using namespace telnet;

namespace {

struct Read {
    std::string data, reply;
    std::vector<std::string> commands;
    std::vector<int> dropped;
    bool operator==(const Read&) const = default;
};

// Feeds each block in turn to one codec, checking each Feed's bounds, and joins what came.
Read FeedIn(const std::vector<std::string_view>& blocks) {
    CTelnetCodec codec;
    TelnetInput in;
    Read read;
    std::size_t fed = 0;
    for (std::string_view block : blocks) {
        codec.Feed(block, in);
        fed += block.size();
        FUZZ_CHECK(in.data.size() <= block.size());
        read.data += in.data;
        read.reply += in.reply;
        // One answer of three bytes per request of three bytes at the most.
        FUZZ_CHECK(read.reply.size() <= fed);
        for (const ComCommand& command : in.commands) {
            FUZZ_CHECK(command.code <= LAST_COMMAND);
            FUZZ_CHECK(command.at <= in.data.size());
            const std::size_t length = command.value.size();
            switch (command.code) {
            case SIGNATURE:
                FUZZ_CHECK(length < TELNET_SUBNEGOTIATION_LIMIT);
                break;
            case SET_BAUDRATE:
                FUZZ_CHECK(length == 4);
                break;
            case FLOWCONTROL_SUSPEND:
            case FLOWCONTROL_RESUME:
                FUZZ_CHECK(length == 0);
                break;
            case NOTIFY_LINESTATE:
            case NOTIFY_MODEMSTATE:
                FUZZ_CHECK(length <= 1);
                break;
            default:
                FUZZ_CHECK(length == 1);
            }
            read.commands.push_back(char(command.code) + command.value);
        }
        for (const TelnetDropped& dropped : in.dropped) {
            FUZZ_CHECK(dropped.length <= TELNET_SUBNEGOTIATION_LIMIT);
            read.dropped.push_back(int(dropped.why));
        }
    }
    return read;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const std::string_view wire(reinterpret_cast<const char*>(data + 2), size - 2);
    std::size_t i = wire.size() * data[0] / 255, j = wire.size() * data[1] / 255;
    if (i > j)
        std::swap(i, j);

    const Read whole = FeedIn({wire});
    const Read split = FeedIn({wire.substr(0, i), wire.substr(i, j - i), wire.substr(j)});
    FUZZ_CHECK(whole == split);
    std::vector<std::string_view> bytes;
    for (std::size_t k = 0; k < wire.size() && k < 4096; ++k)
        bytes.push_back(wire.substr(k, 1));
    if (wire.size() <= 4096) {
        bytes.push_back({});
        FUZZ_CHECK(FeedIn(bytes) == whole);
    }

    // The device's bytes, escaped, reach a peer that agreed to BINARY exactly, however split.
    const std::string binary{char(IAC), char(WILL), char(BINARY)};
    const std::string escaped = CTelnetCodec::Escape(wire);
    FUZZ_CHECK(escaped.size() >= wire.size() && escaped.size() <= 2 * wire.size());
    const std::string_view e = escaped;
    const std::size_t at = std::min(e.size(), i);
    const Read back = FeedIn({binary, e.substr(0, at), e.substr(at)});
    FUZZ_CHECK(back.data == wire);
    FUZZ_CHECK(back.commands.empty() && back.dropped.empty());
    return 0;
}
