#pragma once

#include <QString>

#include <array>
#include <cstdint>

namespace cfb::LocalAddress {

// The address this machine's default route leaves from ("192.168.1.20"), as the kernel would
// choose it for a datagram to the internet; empty when there is no such route (a machine on
// loopback only, or one network without a way out). Sends nothing and does not block.
QString ofDefaultRoute();

// The same for IPv6: the address a datagram to the internet would leave from ("2001:db8::20"),
// empty without an IPv6 route out or when that address is only link-local.
QString ofDefaultRoute6();

// True for an IPv6 address that may stand for a user's machine: unicast, not the unspecified,
// loopback, link-local or IPv4-mapped address.
bool isUsableIPv6(const std::array<uint8_t, 16>& bytes);

// True for an address others on the internet can reach: not private (RFC 1918), shared
// (100.64/10, carrier-grade NAT), loopback, link-local, documentation, multicast or reserved.
bool isPublic(uint32_t networkOrder);

} // namespace cfb::LocalAddress
