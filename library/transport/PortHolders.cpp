#include "transport/PortHolders.h"

#include <cinttypes>
#include <cstdio>

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

} // namespace cfb
