// The safety number two buddies compare: the same on both sides, and a different key shows.
#include "channel/SafetyNumber.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace cfb;

TEST(SafetyNumber, BothSidesSeeTheSameSixtyDigitsAndAChangedKeyShows)
{
    Key32 a{};
    Key32 b{};
    for (size_t i = 0; i < a.size(); ++i) {
        a[i] = uint8_t(i * 7 + 1);
        b[i] = uint8_t(255 - i * 3);
    }
    const QString number = SafetyNumber::of(a, b);
    EXPECT_EQ(number, SafetyNumber::of(b, a));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{5}( \\d{5}){11}$")).match(number).hasMatch()) << number.toStdString();
    EXPECT_EQ(SafetyNumber::qrText(b, a), QString(number).remove(u' '));

    // Each key owns a half: changing one bit of b changes b's half and leaves a's alone.
    const QString aHalf = number.left(35);
    const QString bHalf = number.mid(36);
    Key32 changed = b;
    changed[31] ^= 1;
    const QString other = SafetyNumber::of(a, changed);
    EXPECT_EQ(other.left(35), aHalf);
    EXPECT_NE(other.mid(36), bHalf);
    // With the keys' order reversed (a now the larger), a's half moves to the end.
    Key32 small{};
    const QString swapped = SafetyNumber::of(a, small);
    EXPECT_EQ(swapped.mid(36), aHalf);
    EXPECT_NE(SafetyNumber::of(small, small), SafetyNumber::of(a, a));
}
