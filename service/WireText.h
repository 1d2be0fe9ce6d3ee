#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace cfb::service {

// Text on the wire is Windows-1252. These take the short way for plain ASCII, which is most of
// what passes, and use the shared code-page conversion for everything else.
QString fromWire(QByteArrayView bytes);
QByteArray toWire(QStringView text);

// True when the text holds a control character (below 32, or DEL), which no stored text may hold:
// it could not travel back inside an XML reply.
bool hasControlCharacters(QStringView text);

} // namespace cfb::service
