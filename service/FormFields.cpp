#include "FormFields.h"

#include "BadRequest.h"
#include "WireText.h"

#include <cstring>

namespace cfb::service {
namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<QByteArray> percentDecode(QByteArrayView text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            if (i + 2 >= text.size())
                return std::nullopt;
            const int high = hexValue(text[i + 1]);
            const int low = hexValue(text[i + 2]);
            if (high < 0 || low < 0)
                return std::nullopt;
            out += char(high * 16 + low);
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

std::optional<FormFields> FormFields::parseUrlEncoded(QByteArrayView body)
{
    FormFields form;
    qsizetype start = 0;
    while (start <= body.size()) {
        qsizetype end = body.indexOf('&', start);
        if (end < 0)
            end = body.size();
        const QByteArrayView pair = body.sliced(start, end - start);
        start = end + 1;
        if (pair.isEmpty())
            continue; // "a=1&&b=2" and a trailing '&' are harmless
        const qsizetype equals = pair.indexOf('=');
        const auto name = percentDecode(equals < 0 ? pair : pair.first(equals));
        const auto value = percentDecode(equals < 0 ? QByteArrayView() : pair.sliced(equals + 1));
        if (!name || !value || name->isEmpty() || !form.add(*name, *value))
            return std::nullopt;
    }
    return form;
}

bool FormFields::add(QByteArray name, QByteArray value)
{
    if (int(fields_.size()) >= MaxFields || find(name.constData()))
        return false;
    fields_.emplace_back(std::move(name), std::move(value));
    return true;
}

const QByteArray* FormFields::find(const char* name) const
{
    for (const auto& [key, value] : fields_) {
        if (key == name)
            return &value;
    }
    return nullptr;
}

QByteArray FormFields::bytes(const char* name, qsizetype maxBytes) const
{
    const QByteArray* value = find(name);
    if (!value)
        throw BadRequest(std::string("missing field ") + name);
    if (value->size() > maxBytes)
        throw BadRequest(std::string("field too long: ") + name);
    return *value;
}

QString FormFields::text(const char* name, qsizetype maxChars) const
{
    // Windows-1252 is one byte per character.
    QString value = fromWire(bytes(name, maxChars));
    if (hasControlCharacters(value))
        throw BadRequest(std::string("control character in ") + name);
    return value;
}

std::optional<int64_t> FormFields::parseInteger(QByteArrayView text)
{
    qsizetype i = 0;
    const bool negative = !text.isEmpty() && text[0] == '-';
    if (negative)
        ++i;
    if (i == text.size() || text.size() - i > 18)
        return std::nullopt; // empty, or longer than any number that fits
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

int64_t FormFields::integer(const char* name, int64_t min, int64_t max) const
{
    const std::optional<int64_t> value = parseInteger(bytes(name, 32));
    if (!value || *value < min || *value > max)
        throw BadRequest(std::string("not a number in range: ") + name);
    return *value;
}

} // namespace cfb::service
