// IPv4 addresses as the network side reads and shows them. An address is a number in host order:
// a.b.c.d is (a << 24) | (b << 16) | (c << 8) | d, whatever the machine's byte order.
#pragma once

#include "app/platform/Socket.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Four decimal numbers from 0 to 255 joined by dots, and nothing else: no blanks, no leading
// zeros (010 would be octal to some readers), no shorter forms such as 127.1.
std::optional<std::uint32_t> ParseIpv4(std::string_view text);

// "a.b.c.d", and "a.b.c.d:port".
std::string Ipv4Text(std::uint32_t address);
std::string EndpointText(std::uint32_t address, std::uint16_t port);

// Between the socket layer's records (network order) and ours.
std::uint32_t AddressOf(const sock::sockaddr_in& endpoint);
std::uint16_t PortOf(const sock::sockaddr_in& endpoint);
sock::sockaddr_in Endpoint(std::uint32_t address, std::uint16_t port);
