#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// Text inside the XML documents the clients, peers and the service exchange.
namespace cfb::XmlText {

// The text as character data: '&', '<' and '>' escaped, and a NUL, which no XML text can hold
// (a parser stops at it and loses the whole document), as '?'. Text without those characters
// stays as it is.
QString escaped(QStringView text);
// The same in Windows-1252 bytes, as datagrams and service replies carry it.
QByteArray escapedCp1252(QStringView text);

// The attributes that type an element's content as base64 in the data-types namespace, written
// right after the element's name.
inline constexpr char DataTypesNamespace[] = "urn:schemas-microsoft-com:datatypes";
inline constexpr char Base64Attributes[] = " xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"bin.base64\"";

} // namespace cfb::XmlText
