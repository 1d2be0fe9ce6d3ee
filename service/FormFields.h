#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace cfb::service {

// The named fields of one request. The typed getters throw BadRequest when a field is missing,
// too long or not a number in range, so an operation reads its fields in a few plain lines.
class FormFields {
public:
    static constexpr int MaxFields = 16;

    // Parses "name=value&name=value" (application/x-www-form-urlencoded, '+' is a space). Bad
    // percent-encoding, too many fields, an empty or repeated name: nullopt.
    static std::optional<FormFields> parseUrlEncoded(QByteArrayView body);

    // Adds a field; false (and nothing added) when the name is already there or the form is full.
    bool add(QByteArray name, QByteArray value);

    bool has(const char* name) const { return find(name) != nullptr; }
    const QByteArray* find(const char* name) const;

    QByteArray bytes(const char* name, qsizetype maxBytes) const;
    // Windows-1252 text of at most maxChars characters, without control characters.
    QString text(const char* name, qsizetype maxChars) const;
    // A decimal number ("-" allowed) within [min, max].
    int64_t integer(const char* name, int64_t min, int64_t max) const;

    static std::optional<int64_t> parseInteger(QByteArrayView text);

private:
    std::vector<std::pair<QByteArray, QByteArray>> fields_;
};

} // namespace cfb::service
