#include "TrustedProxies.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

namespace cfb::service {
namespace {

// More entries than any real chain of proxies; a longer header is not searched further.
constexpr int MaxHops = 16;

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

} // namespace

TrustedProxies::TrustedProxies(const std::vector<std::string>& addresses)
{
    for (const std::string& address : addresses) {
        if (const auto numeric = canonical(address); numeric && !contains(*numeric))
            addresses_.push_back(*numeric);
    }
}

bool TrustedProxies::contains(const std::string& address) const
{
    return std::find(addresses_.begin(), addresses_.end(), address) != addresses_.end();
}

std::optional<std::string> TrustedProxies::canonical(std::string_view text)
{
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN)
        return std::nullopt;
    char input[INET6_ADDRSTRLEN] = {};
    std::memcpy(input, text.data(), text.size());
    char output[INET6_ADDRSTRLEN] = {};
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET, input, &v4) == 1) {
        inet_ntop(AF_INET, &v4, output, sizeof output);
    } else if (inet_pton(AF_INET6, input, &v6) == 1) {
        if (IN6_IS_ADDR_V4MAPPED(&v6))
            inet_ntop(AF_INET, &v6.s6_addr[12], output, sizeof output);
        else
            inet_ntop(AF_INET6, &v6, output, sizeof output);
    } else {
        return std::nullopt;
    }
    return std::string(output);
}

std::string TrustedProxies::clientAddress(const std::string& peer, const char* forwardedFor) const
{
    if (!forwardedFor || !contains(peer))
        return peer;
    std::string_view rest(forwardedFor);
    for (int hop = 0; hop < MaxHops && !rest.empty(); ++hop) {
        const size_t comma = rest.rfind(',');
        const std::string_view entry = trimmed(comma == std::string_view::npos ? rest : rest.substr(comma + 1));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(0, comma);
        const auto address = canonical(entry);
        if (!address)
            return peer; // a proxy we trust would not have written this
        if (!contains(*address))
            return *address;
    }
    return peer;
}

} // namespace cfb::service
