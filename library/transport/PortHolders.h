#pragma once

#include <array>
#include <cstdint>

namespace cfb {

// How many IPv4 datagram sockets of this machine (its network namespace) are bound to exactly
// this local address and port, as the kernel lists them; -1 when the list cannot be read. A
// socket bound to every address counts only for the address 0.0.0.0.
int udpSocketsBoundAt(uint32_t addressNetworkOrder, uint16_t port);
// The same for IPv6 datagram sockets (a dual-stack one bound to every address counts for ::).
int udp6SocketsBoundAt(const std::array<uint8_t, 16>& address, uint16_t port);

} // namespace cfb
