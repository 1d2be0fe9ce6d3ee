#include "protocol/AccountRules.h"

namespace cfb::AccountRules {

bool hasForbiddenHandleCharacter(QStringView handle)
{
    constexpr QStringView Forbidden = u" @`'\"";
    for (const QChar c : handle) {
        if (Forbidden.contains(c))
            return true;
    }
    return false;
}

} // namespace cfb::AccountRules
