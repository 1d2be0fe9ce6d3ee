#include "protocol/PercentCoding.h"

#include <gtest/gtest.h>

using namespace cfb;

TEST(PercentCoding, FormEncodingPassesLettersDigitsAndFourMarksAndRoundTripsEveryByte)
{
    EXPECT_EQ(PercentCoding::formEncoded("AZaz09*-._"), "AZaz09*-._");
    EXPECT_EQ(PercentCoding::formEncoded(" "), "+");
    EXPECT_EQ(PercentCoding::formEncoded("/?%+~\n\x80\xff"), "%2F%3F%25%2B%7E%0A%80%FF");
    EXPECT_EQ(PercentCoding::formEncoded(""), "");

    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    EXPECT_EQ(PercentCoding::formDecoded(PercentCoding::formEncoded(all)), all);
    EXPECT_EQ(PercentCoding::formDecoded("J%fcrgen+K%2b"), "J\xfcrgen K+") << "digits of either case";
}

TEST(PercentCoding, FormDecodingRefusesABrokenEscape)
{
    for (const char* bad : {"%", "a%4", "%G1", "%1G", "%%41"})
        EXPECT_FALSE(PercentCoding::formDecoded(bad)) << bad;
}

TEST(PercentCoding, PathEncodingEscapesOnlySpacesControlsAndEightBitBytes)
{
    EXPECT_EQ(PercentCoding::pathEncoded("/svc/cfb_maint.asp?x=1&y=%"), "/svc/cfb_maint.asp?x=1&y=%");
    EXPECT_EQ(PercentCoding::pathEncoded("/a b\t\x7f\xc3\xa9"), "/a%20b%09%7F%C3%A9");
}

TEST(PercentCoding, EscapedNamesKeepReservedCharactersOutAndStayDistinct)
{
    EXPECT_EQ(PercentCoding::escaped(u"a/b\\c%d", u"/\\"), u"a%2Fb%5Cc%25d");
    EXPECT_EQ(PercentCoding::escaped(u"ünï cödé", u"/\\"), u"ünï cödé");
    EXPECT_NE(PercentCoding::escaped(u"%2F", u"/"), PercentCoding::escaped(u"/", u"/"));
}
