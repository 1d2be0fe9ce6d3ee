#pragma once

#include <cstdint>

namespace cfb {

// An IPv4 address and UDP port as the data-port socket takes them.
struct Ipv4Endpoint {
    uint32_t address = 0; // network byte order
    uint16_t port = 0;
    bool isValid() const { return address != 0 && port != 0; }
    bool operator==(const Ipv4Endpoint&) const = default;
};

} // namespace cfb
