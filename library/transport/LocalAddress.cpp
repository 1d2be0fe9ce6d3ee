#include "transport/LocalAddress.h"

#include "transport/vWinsock.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace cfb::LocalAddress {

QString ofDefaultRoute()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    // Connecting a datagram socket only picks the route and the source address; nothing is sent.
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    to.sin_addr.s_addr = htonl(0x08080808); // any address out on the internet
    QString result;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
        sockaddr_in local{};
        socklen_t length = sizeof local;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 && local.sin_addr.s_addr != 0)
            result = vWinsock::DottedAddress(local.sin_addr.s_addr);
    }
    ::close(fd);
    return result;
}

QString ofDefaultRoute6()
{
    const int fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    to.sin6_port = htons(9);
    const uint8_t out[16] = {0x20, 0x01, 0x48, 0x60, 0x48, 0x60, 0, 0, 0, 0, 0, 0, 0, 0, 0x88, 0x88};
    std::memcpy(&to.sin6_addr, out, sizeof out);
    QString result;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
        sockaddr_in6 local{};
        socklen_t length = sizeof local;
        std::array<uint8_t, 16> bytes{};
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
            std::memcpy(bytes.data(), &local.sin6_addr, 16);
            if (isUsableIPv6(bytes))
                result = vWinsock::IPv6Text(bytes);
        }
    }
    ::close(fd);
    return result;
}

bool isUsableIPv6(const std::array<uint8_t, 16>& bytes)
{
    in6_addr a{};
    std::memcpy(&a, bytes.data(), 16);
    return !(IN6_IS_ADDR_UNSPECIFIED(&a) || IN6_IS_ADDR_LOOPBACK(&a) || IN6_IS_ADDR_LINKLOCAL(&a)
        || IN6_IS_ADDR_MULTICAST(&a) || IN6_IS_ADDR_V4MAPPED(&a) || IN6_IS_ADDR_V4COMPAT(&a));
}

bool isPublic(uint32_t networkOrder)
{
    const uint32_t a = ntohl(networkOrder);
    const auto in = [a](uint32_t net, int bits) { return (a >> (32 - bits)) == (net >> (32 - bits)); };
    return !(in(0x00000000, 8) // "this" network
        || in(0x0A000000, 8) // 10/8
        || in(0x64400000, 10) // 100.64/10, carrier-grade NAT
        || in(0x7F000000, 8) // loopback
        || in(0xA9FE0000, 16) // link-local
        || in(0xAC100000, 12) // 172.16/12
        || in(0xC0000000, 24) // IETF protocol assignments
        || in(0xC0000200, 24) // documentation
        || in(0xC0A80000, 16) // 192.168/16
        || in(0xC6120000, 15) // benchmarking
        || in(0xC6336400, 24) // documentation
        || in(0xCB007100, 24) // documentation
        || in(0xE0000000, 3)); // multicast and reserved
}

} // namespace cfb::LocalAddress
