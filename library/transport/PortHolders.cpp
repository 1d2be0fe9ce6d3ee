#include "transport/PortHolders.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace cfb {

int udpSocketsBoundAt(uint32_t addressNetworkOrder, uint16_t port)
{
    std::FILE* table = std::fopen("/proc/net/udp", "re");
    if (!table)
        return -1;
    // "  sl  local_address rem_address ...", then one "N: AAAAAAAA:PPPP ..." line a socket, the
    // address printed as the 32-bit value in memory order, the port in host order.
    char line[512];
    int holders = 0;
    bool header = true;
    while (std::fgets(line, sizeof line, table)) {
        if (header) {
            header = false;
            continue;
        }
        unsigned slot = 0;
        uint32_t address = 0;
        unsigned boundPort = 0;
        if (std::sscanf(line, " %u: %8" SCNx32 ":%4x", &slot, &address, &boundPort) == 3
            && address == addressNetworkOrder && boundPort == port)
            ++holders;
    }
    std::fclose(table);
    return holders;
}

int udp6SocketsBoundAt(const std::array<uint8_t, 16>& address, uint16_t port)
{
    std::FILE* table = std::fopen("/proc/net/udp6", "re");
    if (!table)
        return -1;
    // As above, the address as four 32-bit values in memory order.
    uint32_t words[4];
    std::memcpy(words, address.data(), sizeof words);
    char line[512];
    int holders = 0;
    bool header = true;
    while (std::fgets(line, sizeof line, table)) {
        if (header) {
            header = false;
            continue;
        }
        unsigned slot = 0;
        uint32_t bound[4] = {};
        unsigned boundPort = 0;
        if (std::sscanf(line, " %u: %8" SCNx32 "%8" SCNx32 "%8" SCNx32 "%8" SCNx32 ":%4x", &slot, &bound[0], &bound[1],
                &bound[2], &bound[3], &boundPort)
                == 6
            && std::memcmp(bound, words, sizeof words) == 0 && boundPort == port)
            ++holders;
    }
    std::fclose(table);
    return holders;
}

} // namespace cfb
