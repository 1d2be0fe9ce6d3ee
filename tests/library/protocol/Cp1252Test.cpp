#include "protocol/Cp1252.h"

#include <gtest/gtest.h>

using cfb::fromCp1252;
using cfb::toCp1252;

TEST(Cp1252, EncodesOneBytePerCharacterIncludingTheHighRange)
{
    EXPECT_EQ(toCp1252(u"abc"), QByteArray("abc"));
    EXPECT_EQ(toCp1252(u"\u00e9\u20ac\u00ff"), QByteArray("\xe9\x80\xff"));
    EXPECT_EQ(toCp1252(u""), QByteArray());
}

TEST(Cp1252, CharactersTheCodePageLacksBecomeQuestionMarks)
{
    EXPECT_EQ(toCp1252(QString::fromUtf8("a\u4e2db")), QByteArray("a?b"));
    // A character outside the basic plane is one character, so one '?'.
    EXPECT_EQ(toCp1252(QString::fromUtf8("x\U0001F600y")), QByteArray("x?y"));
    // A real SUB control character still passes as itself.
    EXPECT_EQ(toCp1252(QString::fromUtf8("\x1a\u4e2d")), QByteArray("\x1a?"));
}

TEST(Cp1252, EveryByteDecodesToOneCharacterAndBack)
{
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    const QString text = fromCp1252(all);
    ASSERT_EQ(text.size(), 256);
    EXPECT_EQ(text[0x80], QChar(0x20ac));
    EXPECT_EQ(toCp1252(text), all);
}
