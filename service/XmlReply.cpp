#include "XmlReply.h"

#include "protocol/XmlText.h"

namespace cfb::service {

XmlReply::XmlReply()
{
    out_.reserve(256);
    out_ += "<body>";
}

void XmlReply::appendEscaped(QStringView text)
{
    out_ += XmlText::escapedCp1252(text);
}

XmlReply& XmlReply::element(const char* name, QStringView text)
{
    open(name);
    appendEscaped(text);
    return close(name);
}

XmlReply& XmlReply::element(const char* name, int64_t number)
{
    open(name);
    out_ += QByteArray::number(qlonglong(number));
    return close(name);
}

XmlReply& XmlReply::base64Element(const char* name, QByteArrayView bytes)
{
    out_ += '<';
    out_ += name;
    out_ += XmlText::Base64Attributes;
    out_ += '>';
    out_ += QByteArray::fromRawData(bytes.data(), bytes.size()).toBase64();
    return close(name);
}

XmlReply& XmlReply::open(const char* name)
{
    out_ += '<';
    out_ += name;
    out_ += '>';
    return *this;
}

XmlReply& XmlReply::close(const char* name)
{
    out_ += "</";
    out_ += name;
    out_ += '>';
    return *this;
}

XmlReply& XmlReply::rootText(QStringView text)
{
    appendEscaped(text);
    return *this;
}

QByteArray XmlReply::finish()
{
    out_ += "</body>";
    return std::move(out_);
}

} // namespace cfb::service
