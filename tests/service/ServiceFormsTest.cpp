// The form readers on their own: where they must be strict and where tolerant.

#include "BadRequest.h"
#include "FormFields.h"
#include "MultipartForm.h"
#include "PublicKeyField.h"

#include <gtest/gtest.h>

using namespace cfb::service;

TEST(FormFields, DecodesPlusPercentAndWindows1252)
{
    const auto form = FormFields::parseUrlEncoded("mode=LOGIN&handle=J%FCrgen+K&password=%26%3D&&ip=");
    ASSERT_TRUE(form);
    EXPECT_EQ(form->text("handle", 30), QStringLiteral("Jürgen K"));
    EXPECT_EQ(form->bytes("password", 10), QByteArray("&="));
    EXPECT_EQ(form->text("ip", 10), QString());
    EXPECT_THROW(form->text("handle", 7), BadRequest);
    EXPECT_THROW(form->bytes("email", 10), BadRequest);
}

TEST(FormFields, RefusesBrokenEncodingsAndRepeatedNames)
{
    for (const char* bad : {"a=%", "a=%4", "a=%G1", "%=1", "=1", "a=1&a=2", "a=1&A=2&a=3"})
        EXPECT_FALSE(FormFields::parseUrlEncoded(bad)) << bad;
    EXPECT_TRUE(FormFields::parseUrlEncoded("a=1&A=2"));
}

TEST(FormFields, NumbersAreStrictAndRangeChecked)
{
    const auto form = FormFields::parseUrlEncoded("a=-32768&b=32768&c=007&d=1.5&e=-&f=9223372036854775807");
    ASSERT_TRUE(form);
    EXPECT_EQ(form->integer("a", -32768, 32767), -32768);
    EXPECT_THROW(form->integer("b", -32768, 32767), BadRequest);
    EXPECT_EQ(form->integer("c", 0, 10), 7);
    EXPECT_THROW(form->integer("d", 0, 10), BadRequest);
    EXPECT_THROW(form->integer("e", -10, 10), BadRequest);
    EXPECT_THROW(form->integer("f", 0, INT64_MAX), BadRequest); // longer than any id
}

// The reason a malformed key is refused with, or "accepted" and the key's size.
std::string readKey(const QByteArray& value)
{
    FormFields form;
    form.add("public_key", value);
    try {
        const QByteArray key = PublicKeyField::read(form);
        return "accepted " + std::to_string(key.size());
    } catch (const BadRequest& e) {
        return e.what();
    }
}

TEST(PublicKeyField, TakesExactlyThirtyTwoBytesInCanonicalBase64AndSaysWhatIsWrong)
{
    EXPECT_TRUE(PublicKeyField::read(FormFields()).isEmpty()) << "no field, no key";
    QByteArray key(32, '\0');
    for (int i = 0; i < 32; ++i)
        key[i] = char(0xF0 + i);
    EXPECT_EQ(readKey(key.toBase64()), "accepted 32");

    const std::string notBase64 = "public_key is not standard base64";
    EXPECT_EQ(readKey(key.toBase64(QByteArray::Base64UrlEncoding)), notBase64);
    EXPECT_EQ(readKey(key.toBase64(QByteArray::OmitTrailingEquals)), notBase64);
    EXPECT_EQ(readKey(key.toBase64().insert(20, ' ')), notBase64);
    QByteArray unusedBitsSet = key.toBase64();
    unusedBitsSet[42] = char(unusedBitsSet[42] + 1); // the last character's two spare bits
    EXPECT_EQ(readKey(unusedBitsSet), notBase64);

    EXPECT_EQ(readKey(key.left(31).toBase64()), "public_key holds 31 bytes, not 32");
    EXPECT_EQ(readKey((key + 'x').toBase64()), "public_key holds 33 bytes, not 32");
    EXPECT_EQ(readKey(""), "public_key holds 0 bytes, not 32");
    EXPECT_EQ(readKey(QByteArray(32, '\0').toBase64()), "public_key is all zeros");
    EXPECT_EQ(readKey(QByteArray(300, 'A')), "field too long: public_key");
}

TEST(MultipartForm, ReadsBoundaryParameters)
{
    EXPECT_EQ(MultipartForm::boundaryOf("multipart/form-data; boundary=7d1f5a80420"), QByteArray("7d1f5a80420"));
    EXPECT_EQ(MultipartForm::boundaryOf("multipart/form-data;BOUNDARY=\"a;b\"; charset=x"), QByteArray("a;b"));
    EXPECT_TRUE(MultipartForm::boundaryOf("multipart/form-data").isEmpty());
}

TEST(MultipartForm, ToleratesLineFeedsAndPaddingButNeedsTheClosingDelimiter)
{
    const QByteArray lf = "--B  \nContent-Disposition: form-data; name=\"x\"\n\nvalue\n----B\n"
                          "content-disposition: form-data; filename=\"f\"; name=y\n\n\n----B--\n";
    const auto form = MultipartForm::parse(lf, "B");
    ASSERT_TRUE(form);
    EXPECT_EQ(*form->find("x"), QByteArray("value"));
    EXPECT_EQ(*form->find("y"), QByteArray(""));

    EXPECT_FALSE(MultipartForm::parse("--B\r\nContent-Disposition: form-data; name=\"x\"\r\n\r\nv\r\n", "B"));
    EXPECT_FALSE(MultipartForm::parse("-B\r\nContent-Disposition: form-data; name=\"x\"\r\n\r\nv\r\n-B--", "B"));
    // A part with no name, or the same name twice, spoils the form.
    EXPECT_FALSE(MultipartForm::parse("--B\r\nContent-Type: text/plain\r\n\r\nv\r\n--B--", "B"));
    EXPECT_FALSE(MultipartForm::parse(
        "--B\r\nContent-Disposition: form-data; name=a\r\n\r\n1\r\n--B\r\nContent-Disposition: form-data; "
        "name=a\r\n\r\n2\r\n--B--",
        "B"));
}
