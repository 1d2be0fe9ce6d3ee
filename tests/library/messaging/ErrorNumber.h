#pragma once

#include "messaging/ConfaboError.h"

// The number of the ConfaboError the call raises, or 0 when it raises none.
template <typename Call> int errorOf(Call&& call)
{
    try {
        call();
    } catch (const cfb::ConfaboError& e) {
        return e.number();
    }
    return 0;
}
