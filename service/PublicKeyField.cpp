#include "PublicKeyField.h"

#include "BadRequest.h"
#include "FormFields.h"

#include <algorithm>
#include <string>

namespace cfb::service::PublicKeyField {

namespace {

// Far more than the 44 characters of a key: a wrong key still gets its own reason, while a
// field of any length costs no more than this to look at.
constexpr qsizetype MaxEncoded = 256;

} // namespace

QByteArray read(const FormFields& fields)
{
    if (!fields.has("public_key"))
        return {};
    const QByteArray encoded = fields.bytes("public_key", MaxEncoded);
    const auto result
        = QByteArray::fromBase64Encoding(encoded, QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        throw BadRequest("public_key is not standard base64");
    const QByteArray& decoded = result.decoded;
    if (decoded.size() != Bytes)
        throw BadRequest("public_key holds " + std::to_string(decoded.size()) + " bytes, not " + std::to_string(Bytes));
    // One spelling per key (padding present, unused bits zero), so what is handed out is what
    // the client sent.
    if (decoded.toBase64() != encoded)
        throw BadRequest("public_key is not standard base64");
    if (std::all_of(decoded.begin(), decoded.end(), [](char c) { return c == 0; }))
        throw BadRequest("public_key is all zeros");
    return decoded;
}

} // namespace cfb::service::PublicKeyField
