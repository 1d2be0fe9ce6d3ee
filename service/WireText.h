#pragma once

#include <QStringView>

namespace cfb::service {

// True when the text holds a control character (below 32, or DEL), which no stored text may hold:
// it could not travel back inside an XML reply.
bool hasControlCharacters(QStringView text);

} // namespace cfb::service
