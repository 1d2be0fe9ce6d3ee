#pragma once

#include <QString>

#include <cstdint>

namespace cfb::LocalAddress {

// The address this machine's default route leaves from ("192.168.1.20"), as the kernel would
// choose it for a datagram to the internet; empty when there is no such route (a machine on
// loopback only, or one network without a way out). Sends nothing and does not block.
QString ofDefaultRoute();

// True for an address others on the internet can reach: not private (RFC 1918), shared
// (100.64/10, carrier-grade NAT), loopback, link-local, documentation, multicast or reserved.
bool isPublic(uint32_t networkOrder);

} // namespace cfb::LocalAddress
