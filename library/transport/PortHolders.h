#pragma once

#include <cstdint>

namespace cfb {

// How many IPv4 datagram sockets of this machine (its network namespace) are bound to exactly
// this local address and port, as the kernel lists them; -1 when the list cannot be read. A
// socket bound to every address counts only for the address 0.0.0.0.
int udpSocketsBoundAt(uint32_t addressNetworkOrder, uint16_t port);

} // namespace cfb
