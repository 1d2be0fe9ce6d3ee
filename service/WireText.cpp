#include "WireText.h"

namespace cfb::service {

bool hasControlCharacters(QStringView text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    }
    return false;
}

} // namespace cfb::service
