#include "protocol/HexText.h"

#include <gtest/gtest.h>

using namespace cfb;

TEST(HexText, EveryByteGoesAsTwoUpperCaseDigitsAndComesBack)
{
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    const QString hex = HexText::fromBytes(all);
    ASSERT_EQ(hex.size(), 512);
    EXPECT_TRUE(hex.startsWith(u"000102"));
    EXPECT_TRUE(hex.endsWith(u"FDFEFF"));
    EXPECT_EQ(HexText::toBytes(hex), all);
    EXPECT_EQ(HexText::toBytes(hex.toLower()), all) << "either case reads";
    EXPECT_EQ(HexText::toBytes(u""), QByteArray());
}

TEST(HexText, MalformedDigitsGiveNothing)
{
    for (const char* bad : {"A", "ABC", "0G", "0 ", "+1", "\uff10\uff11"})
        EXPECT_FALSE(HexText::toBytes(QString::fromUtf8(bad))) << bad;
}
