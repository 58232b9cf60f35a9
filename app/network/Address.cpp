#include "app/network/Address.h"

#include <cstring>

std::optional<std::uint32_t> ParseIpv4(std::string_view text) {
    std::uint32_t address = 0;
    std::size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.')
                return std::nullopt;
            ++pos;
        }
        const std::size_t start = pos;
        unsigned value = 0;
        while (pos < text.size() && pos - start < 4 && text[pos] >= '0' && text[pos] <= '9')
            value = value * 10 + static_cast<unsigned>(text[pos++] - '0');
        const std::size_t digits = pos - start;
        if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text[start] == '0'))
            return std::nullopt;
        address = (address << 8) | value;
    }
    if (pos != text.size())
        return std::nullopt;
    return address;
}

std::string Ipv4Text(std::uint32_t address) {
    return std::to_string(address >> 24) + '.' + std::to_string((address >> 16) & 0xFF) + '.' +
           std::to_string((address >> 8) & 0xFF) + '.' + std::to_string(address & 0xFF);
}

std::string EndpointText(std::uint32_t address, std::uint16_t port) {
    return Ipv4Text(address) + ':' + std::to_string(port);
}

std::uint32_t AddressOf(const sock::sockaddr_in& endpoint) {
    // Network order: the first octet is the first byte in memory.
    unsigned char bytes[4];
    std::memcpy(bytes, &endpoint.sin_addr.s_addr, sizeof bytes);
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | bytes[3];
}

std::uint16_t PortOf(const sock::sockaddr_in& endpoint) {
    return sock::ntohs(endpoint.sin_port);
}

sock::sockaddr_in Endpoint(std::uint32_t address, std::uint16_t port) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(address >> 24), static_cast<unsigned char>(address >> 16),
        static_cast<unsigned char>(address >> 8), static_cast<unsigned char>(address)};
    sock::sockaddr_in endpoint{};
    endpoint.sin_family = sock::AF_INET;
    endpoint.sin_port = sock::htons(port);
    std::memcpy(&endpoint.sin_addr.s_addr, bytes, sizeof bytes);
    return endpoint;
}
