#include "FormFields.h"

#include "BadRequest.h"
#include "WireText.h"
#include "protocol/Cp1252.h"
#include "protocol/PercentCoding.h"

#include <cstring>

namespace cfb::service {

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
        const auto name = PercentCoding::formDecoded(equals < 0 ? pair : pair.first(equals));
        const auto value = PercentCoding::formDecoded(equals < 0 ? QByteArrayView() : pair.sliced(equals + 1));
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
    QString value = fromCp1252(bytes(name, maxChars));
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
