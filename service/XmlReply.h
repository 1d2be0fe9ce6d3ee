#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>

#include <cstdint>

namespace cfb::service {

// Builds a reply document: root "body", no declaration, Windows-1252 text escaped as XmlText does
// it. Elements are written in the order they are added.
class XmlReply {
public:
    XmlReply();

    XmlReply& element(const char* name, QStringView text);
    XmlReply& element(const char* name, int64_t number);
    // A "bin.base64" typed element in the data-types namespace; empty bytes give an empty element.
    XmlReply& base64Element(const char* name, QByteArrayView bytes);
    XmlReply& open(const char* name);
    XmlReply& close(const char* name);
    // Text directly inside the root ("<body>42</body>").
    XmlReply& rootText(QStringView text);

    QByteArray finish(); // closes the root and returns the bytes

private:
    void appendEscaped(QStringView text);

    QByteArray out_;
};

} // namespace cfb::service
