#include "transport/ivBuffer.h"

#include <gtest/gtest.h>

using cfb::ivBuffer;

TEST(ivBuffer, TakesBytesFromTheFrontInTheOrderTheyCame)
{
    ivBuffer b;
    b.BufferReadIn("abc", 3);
    b.BufferReadIn("de", 2);
    EXPECT_EQ(b.StoredBytes(), 5);

    QByteArray out;
    int32_t len = 4;
    b.BufferReadOut(out, len);
    EXPECT_EQ(out, "abcd");
    EXPECT_EQ(len, 4);
    EXPECT_EQ(b.StoredBytes(), 1);

    len = 10; // more than stored: lowered to what is there
    b.BufferReadOut(out, len);
    EXPECT_EQ(out, "e");
    EXPECT_EQ(len, 1);
    EXPECT_EQ(b.StoredBytes(), 0);

    len = 10;
    b.BufferReadOut(out, len);
    EXPECT_TRUE(out.isEmpty());
    EXPECT_EQ(len, -1);
}

TEST(ivBuffer, EmptyInputAndZeroOrNegativeCountsChangeNothing)
{
    ivBuffer b;
    b.BufferReadIn(QByteArray(), 5);
    EXPECT_EQ(b.StoredBytes(), 0);

    b.BufferReadIn("xyz", 3);
    QByteArray out = "stale";
    int32_t len = 0;
    b.BufferReadOut(out, len);
    EXPECT_TRUE(out.isEmpty());
    EXPECT_EQ(len, -1);
    len = -7;
    b.BufferReadOut(out, len);
    EXPECT_EQ(len, -1);
    EXPECT_EQ(b.StoredBytes(), 3);
}

TEST(ivBuffer, ReadInHonoursTheCountAndBinaryBytes)
{
    ivBuffer b;
    const QByteArray bytes("\x00\xff\x00\x80tail", 8);
    b.BufferReadIn(bytes, 4); // only the first four
    b.BufferReadIn(bytes, 100); // a count past the end takes the whole array
    EXPECT_EQ(b.StoredBytes(), 12);
    QByteArray out;
    int32_t len = 12;
    b.BufferReadOut(out, len);
    EXPECT_EQ(out, bytes.left(4) + bytes);
}

TEST(ivBuffer, TakingEverythingLeavesTheCallerAnIndependentCopy)
{
    ivBuffer b;
    QByteArray datagram("payload");
    b.BufferReadIn(datagram, int32_t(datagram.size()));
    datagram[0] = 'P'; // the caller's array changes after handing it over
    QByteArray out;
    int32_t len = 100;
    b.BufferReadOut(out, len);
    EXPECT_EQ(out, "payload");
    b.BufferReadIn("more", 4);
    EXPECT_EQ(out, "payload");
    b.Flush();
    EXPECT_EQ(b.StoredBytes(), 0);
}
