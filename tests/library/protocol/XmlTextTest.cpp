#include "protocol/XmlText.h"

#include <gtest/gtest.h>

using namespace cfb;

TEST(XmlText, MarkupCharactersAreEscapedAndANulBecomesAQuestionMark)
{
    EXPECT_EQ(XmlText::escaped(u"Cy & Co <x> \"q\" 'a'"), u"Cy &amp; Co &lt;x&gt; \"q\" 'a'");
    EXPECT_EQ(XmlText::escaped(QStringView(u"a\0b", 3)), u"a?b");
    EXPECT_EQ(XmlText::escaped(u"&amp;"), u"&amp;amp;") << "nothing is taken as already escaped";
    EXPECT_EQ(XmlText::escaped(u""), u"");
}

TEST(XmlText, WireTextIsWindows1252AfterEscaping)
{
    EXPECT_EQ(XmlText::escapedCp1252(u"Zo\u00eb & \u20ac"), QByteArray("Zo\xeb &amp; \x80"));
    EXPECT_EQ(XmlText::escapedCp1252(QString::fromUtf8("a<\u4e2d")), QByteArray("a&lt;?"));
    EXPECT_EQ(XmlText::escapedCp1252(QStringView(u"\0", 1)), QByteArray("?"));
}
