#include "MailFields.h"

#include "BadRequest.h"
#include "FormFields.h"

#include <QList>

#include <algorithm>
#include <string>

namespace cfb::service::MailFields {

namespace {

bool idCharacter(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_';
}

// As many base64 characters as the body the service takes could hold.
constexpr qsizetype MaxEncoded = 512 * 1024;

} // namespace

QByteArray mailId(const FormFields& fields)
{
    const QByteArray id = fields.bytes("mail_id", MaxMailId);
    if (id.isEmpty() || !std::all_of(id.begin(), id.end(), idCharacter))
        throw BadRequest("mail_id must be 1 to 64 letters, digits, '-' or '_'");
    return id;
}

QByteArray sealed(const FormFields& fields)
{
    const QByteArray encoded = fields.bytes("sealed", MaxEncoded);
    const auto result
        = QByteArray::fromBase64Encoding(encoded, QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!result || result.decoded.isEmpty())
        throw BadRequest("sealed is not standard base64 of a line");
    return result.decoded;
}

std::vector<int64_t> ids(const FormFields& fields)
{
    const QByteArray list = fields.bytes("ids", MaxAckedIds * 21);
    if (list.isEmpty())
        throw BadRequest("ids is empty");
    std::vector<int64_t> ids;
    for (const QByteArray& part : list.split(',')) {
        const auto id = FormFields::parseInteger(part);
        if (!id || *id < 1)
            throw BadRequest("ids must be positive decimal numbers separated by commas");
        if (ids.size() == size_t(MaxAckedIds))
            throw BadRequest("more than " + std::to_string(MaxAckedIds) + " ids");
        ids.push_back(*id);
    }
    return ids;
}

} // namespace cfb::service::MailFields
