#include "channel/SodiumReady.h"

#include <sodium.h>

namespace cfb {

bool sodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

} // namespace cfb
