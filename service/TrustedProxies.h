#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cfb::service {

// The reverse proxies (nginx in front of several instances) whose word on the client's address is
// taken. A connection from one of them carries the client's address in X-Forwarded-For, each
// proxy on the way appending the address it saw: the right-most entry that is not itself a
// trusted proxy is the client. Entries to its left come from the client and are never believed.
// From any other peer, or without a usable entry, the peer's own address counts, so no client can
// claim another's address (and with it the accounts bound to that address).
class TrustedProxies {
public:
    TrustedProxies() = default;
    // Addresses in numeric form; see canonical().
    explicit TrustedProxies(const std::vector<std::string>& addresses);

    bool empty() const { return addresses_.empty(); }
    bool contains(const std::string& address) const;

    // The client's address for a connection from `peer` with this X-Forwarded-For value (null when
    // the header is absent).
    std::string clientAddress(const std::string& peer, const char* forwardedFor) const;

    // The numeric address as the server writes it (IPv4 dotted, IPv6 compressed, an IPv4-mapped
    // IPv6 address as IPv4); nullopt when the text is no IP address.
    static std::optional<std::string> canonical(std::string_view text);

private:
    std::vector<std::string> addresses_;
};

} // namespace cfb::service
