#pragma once

#include <QByteArray>

namespace cfb::service {

class FormFields;

// The optional `public_key` field of a sign-in: the client's long-term X25519 public key, which
// buddies encrypt their peer channel to, as 32 bytes in standard base64 with its padding (44
// characters).
namespace PublicKeyField {

constexpr qsizetype Bytes = 32;

// The key's bytes; empty when the form has no such field. Throws BadRequest, saying which, when
// the field is not canonical standard base64, does not decode to exactly 32 bytes, or decodes to
// zeros only.
QByteArray read(const FormFields& fields);

} // namespace PublicKeyField
} // namespace cfb::service
