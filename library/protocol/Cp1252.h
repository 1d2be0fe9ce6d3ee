#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace cfb {

// Text on the wire (form bodies, datagrams, the cipher's plain bytes) is Windows-1252, one byte
// per character. A character the code page lacks becomes '?'.
QByteArray toCp1252(QStringView text);
QString fromCp1252(QByteArrayView bytes);

} // namespace cfb
