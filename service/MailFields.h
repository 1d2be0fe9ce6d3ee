#pragma once

#include <QByteArray>

#include <cstdint>
#include <vector>

namespace cfb::service {

class FormFields;

// The fields of the mail operations. `mail_id`: the sender's id for a line, 1 to 64 letters,
// digits, '-' or '_'. `sealed`: the sealed line in standard base64. `ids`: the service's ids of
// lines taken, decimal, separated by commas. Each reader throws BadRequest, saying which field
// is wrong, when it is missing or malformed.
namespace MailFields {

constexpr qsizetype MaxSealedBytes = 64 * 1024; // a line larger than this never waits
constexpr qsizetype MaxMailId = 64;
constexpr qsizetype MaxAckedIds = 500;

QByteArray mailId(const FormFields& fields);
// The sealed bytes; a field too large for MaxSealedBytes after decoding is read whole still
// (up to what the form may hold), so the caller can refuse it with a reason the sender sees.
QByteArray sealed(const FormFields& fields);
std::vector<int64_t> ids(const FormFields& fields);

} // namespace MailFields
} // namespace cfb::service
