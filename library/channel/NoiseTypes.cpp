#include "channel/NoiseTypes.h"

#include <sodium.h>

namespace cfb {

void wipeSecret(void* data, size_t size)
{
    sodium_memzero(data, size);
}

} // namespace cfb
