// Hostile request bodies to the service's form readers, as the HTTP layer hands them over: the
// Content-Type header's value and the whole body. Beyond surviving any bytes without a crash, a
// leak or undefined behaviour (and within the per-input time limit, which a scan quadratic in the
// body size exceeds on a large body), reading must
//  - give back, field for field, the bytes of a form the library itself built from the input's
//    values, URL-encoded or as its multipart avatar upload with 29 hyphens before the boundary.
//
// The input is the Content-Type value up to the first line feed, then the body.
#include "BadRequest.h"
#include "FormFields.h"
#include "MailFields.h"
#include "MultipartForm.h"
#include "PublicKeyField.h"
#include "messaging/FormRequest.h"
#include "messaging/modINET.h"
#include "protocol/Cp1252.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

using cfb::service::BadRequest;
using cfb::service::FormFields;
using cfb::service::MultipartForm;
namespace PublicKeyField = cfb::service::PublicKeyField;

namespace {

[[noreturn]] void fail(const char* what, QByteArrayView detail = {})
{
    std::fprintf(stderr, "service request: %s %s\n", what, detail.toByteArray().toPercentEncoding().constData());
    std::abort();
}

// The same choice of reader as the service makes.
std::optional<FormFields> read(QByteArrayView contentType, QByteArrayView body)
{
    if (contentType.trimmed().startsWith("multipart/form-data"))
        return MultipartForm::parse(body, MultipartForm::boundaryOf(contentType));
    return FormFields::parseUrlEncoded(body);
}

// Every typed read the operations make, each either a value or BadRequest.
void readEveryField(const FormFields& form)
{
    for (const char* name : {"mode", "user_id", "handle", "password", "email", "ip", "status", "mouth_top",
             "mouth_left", "buddy_id", "avatar", "mail_id", "sealed", "ids"}) {
        try {
            (void)form.text(name, 254);
        } catch (const BadRequest&) {
        }
        try {
            (void)form.integer(name, -32768, 2147483647);
        } catch (const BadRequest&) {
        }
    }
    try {
        (void)PublicKeyField::read(form);
    } catch (const BadRequest&) {
    }
    namespace MailFields = cfb::service::MailFields;
    try {
        const QByteArray id = MailFields::mailId(form);
        if (id.isEmpty() || id.size() > MailFields::MaxMailId)
            fail("a mail id out of its bounds was taken:", id);
    } catch (const BadRequest&) {
    }
    try {
        (void)MailFields::sealed(form);
    } catch (const BadRequest&) {
    }
    try {
        const std::vector<int64_t> ids = MailFields::ids(form);
        if (ids.empty() || ids.size() > size_t(MailFields::MaxAckedIds))
            fail("a list of mail ids out of its bounds was taken");
        for (const int64_t id : ids)
            if (id < 1)
                fail("a mail id below 1 was taken");
    } catch (const BadRequest&) {
    }
}

void expectField(
    const std::optional<FormFields>& form, const char* name, const QByteArray& expected, const QByteArray& request)
{
    if (!form)
        fail("the library's own request did not parse:", request);
    const QByteArray* got = form->find(name);
    if (!got || *got != expected)
        fail("the library's own request read back changed:", request);
}

// A sign-in and an avatar upload built by the library from the input's bytes read back exactly.
void checkOwnRequestsReadBack(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::string handleBytes = in.ConsumeRandomLengthString(64);
    const std::string passwordBytes = in.ConsumeRandomLengthString(128);
    const auto userId = in.ConsumeIntegral<int32_t>();
    const std::string picture = in.ConsumeRemainingBytesAsString();

    const QString handle = cfb::fromCp1252(QByteArrayView(handleBytes.data(), qsizetype(handleBytes.size())));
    const QString password = cfb::fromCp1252(QByteArrayView(passwordBytes.data(), qsizetype(passwordBytes.size())));
    const QByteArray login
        = cfb::FormRequest("LOGIN").add("handle", handle).add("password", password).add("ip", QString()).body();
    const auto form = read("application/x-www-form-urlencoded", login);
    expectField(form, "mode", "LOGIN", login);
    expectField(form, "handle", cfb::toCp1252(handle), login);
    expectField(form, "password", cfb::toCp1252(password), login);
    expectField(form, "ip", "", login);

    // The upload does not escape its content: a picture holding the boundary is not the reader's
    // fault.
    const QByteArray pictureBytes(picture.data(), qsizetype(picture.size()));
    if (pictureBytes.contains("7d1f5a80420"))
        return;
    const QByteArray upload = cfb::AvatarUploadBody(pictureBytes, userId);
    const auto parts = read("multipart/form-data; boundary=7d1f5a80420", upload);
    expectField(parts, "mode", "AVATAR_UPDATE", upload);
    expectField(parts, "user_id", QByteArray::number(userId), upload);
    expectField(parts, "avatar", pictureBytes, upload);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char*>(data), qsizetype(size));
    qsizetype split = input.indexOf('\n');
    if (split < 0)
        split = input.size();
    const QByteArrayView contentType = input.first(split);
    const QByteArrayView body = split < input.size() ? input.sliced(split + 1) : QByteArrayView();
    if (const std::optional<FormFields> form = read(contentType, body))
        readEveryField(*form);

    // The round trip works on small inputs; the large ones are there for the readers' speed.
    if (size <= 4096)
        checkOwnRequestsReadBack(data, size);
    return 0;
}
