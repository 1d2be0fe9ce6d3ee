// The form readers on their own: where they must be strict and where tolerant.

#include "BadRequest.h"
#include "FormFields.h"
#include "MultipartForm.h"

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
