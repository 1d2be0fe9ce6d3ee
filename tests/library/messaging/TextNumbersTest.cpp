#include "messaging/TextNumbers.h"
#include "messaging/ConfaboError.h"

#include "ErrorNumber.h"

#include <gtest/gtest.h>

using namespace cfb;

TEST(TextNumbers, WholeTextNumbers)
{
    EXPECT_EQ(toLong("42"), 42);
    EXPECT_EQ(toLong(" -7 "), -7);
    EXPECT_EQ(toLong("2147483647"), 2147483647);
    EXPECT_EQ(toLong("2.5"), 2); // halves to even
    EXPECT_EQ(toLong("3.5"), 4);
    EXPECT_EQ(toInteger("-32768"), -32768);
    EXPECT_EQ(toInteger("1e3"), 1000);
}

TEST(TextNumbers, TextThatIsNotANumberIsATypeMismatch)
{
    for (const char* bad : {"", " ", "abc", "12abc", "1 2", "--1", ".", "1e", "0x10", "NaN", "inf"})
        EXPECT_EQ(errorOf([&] { toLong(bad); }), ConfaboError::TypeMismatch) << bad;
    EXPECT_EQ(errorOf([] { toInteger("twelve"); }), ConfaboError::TypeMismatch);
}

TEST(TextNumbers, OutOfRangeIsAnOverflow)
{
    EXPECT_EQ(errorOf([] { toLong("2147483648"); }), ConfaboError::Overflow);
    EXPECT_EQ(errorOf([] { toLong("-1e300"); }), ConfaboError::Overflow);
    EXPECT_EQ(errorOf([] { toInteger("32768"); }), ConfaboError::Overflow);
}

TEST(TextNumbers, LeadingIntegerTakesTheNumberAtTheStart)
{
    EXPECT_EQ(leadingInteger("12.7abc"), 13);
    EXPECT_EQ(leadingInteger(""), 0);
    EXPECT_EQ(leadingInteger("abc"), 0);
    EXPECT_EQ(leadingInteger("  -4px"), -4);
    EXPECT_EQ(leadingInteger("99999999"), 32767);
    EXPECT_EQ(leadingInteger("1e999"), 32767);
}

TEST(TextNumbers, Booleans)
{
    EXPECT_TRUE(toBoolean("True"));
    EXPECT_TRUE(toBoolean("TRUE"));
    EXPECT_FALSE(toBoolean("false"));
    EXPECT_TRUE(toBoolean("-1"));
    EXPECT_FALSE(toBoolean("0"));
    EXPECT_EQ(errorOf([] { toBoolean("yes"); }), ConfaboError::TypeMismatch);
    EXPECT_EQ(errorOf([] { toBoolean(""); }), ConfaboError::TypeMismatch);
}
