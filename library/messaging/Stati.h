#pragma once

#include <cstdint>

namespace cfb {

// A user's presence.
enum Stati : int32_t {
    CFB_OFFLINE = 0,
    CFB_AVAILABLE = 1,
    CFB_BUSY = 2,
};

} // namespace cfb
