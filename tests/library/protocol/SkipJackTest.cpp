#include "protocol/SkipJack.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <thread>
#include <vector>

namespace SkipJack = cfb::SkipJack;

namespace {

SkipJack::Block blockOf(const char* hex)
{
    const QByteArray bytes = QByteArray::fromHex(hex);
    SkipJack::Block block{};
    std::copy(bytes.begin(), bytes.end(), block.begin());
    return block;
}

bool isUpperHex(const QString& text)
{
    static const QRegularExpression upperHex("^[0-9A-F]*$");
    return upperHex.match(text).hasMatch();
}

// Printable and high-range characters, spaces included, so a layout slip shows up as a wrong
// character rather than hiding among zero bytes.
QString samplePassword(int length)
{
    static const QString pool = QString::fromUtf8("aZ 9~\u00e9\u20ac\u00ff!Q\t");
    QString out;
    for (int i = 0; i < length; ++i)
        out += pool[(i * 7 + length) % pool.size()];
    return out;
}

} // namespace

TEST(SkipJackCipher, PublishedTestVectorBothWays)
{
    const auto key = SkipJack::parseKey(u"00998877665544332211");
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(SkipJack::encryptBlock(*key, blockOf("33221100ddccbbaa")), blockOf("2587cae27a12d300"));
    EXPECT_EQ(SkipJack::decryptBlock(*key, blockOf("2587cae27a12d300")), blockOf("33221100ddccbbaa"));
}

// A thousand chained encryptions read every F-table entry many times over, so a single wrong
// entry changes the result; the expected values were worked out apart from this code.
TEST(SkipJackCipher, ThousandChainedEncryptionsMatchReference)
{
    const auto testKey = SkipJack::parseKey(u"00998877665544332211");
    const auto builtInKey = SkipJack::parseKey(SkipJack::BuiltInKey);
    ASSERT_TRUE(testKey && builtInKey);
    SkipJack::Block a = blockOf("33221100ddccbbaa");
    SkipJack::Block b{};
    for (int i = 0; i < 1000; ++i) {
        a = SkipJack::encryptBlock(*testKey, a);
        b = SkipJack::encryptBlock(*builtInKey, b);
    }
    EXPECT_EQ(a, blockOf("dffb32bffce1a862"));
    EXPECT_EQ(b, blockOf("497d745a39210cfb"));
    for (int i = 0; i < 1000; ++i)
        a = SkipJack::decryptBlock(*testKey, a);
    EXPECT_EQ(a, blockOf("33221100ddccbbaa"));
}

TEST(SkipJackCipher, KeyTextIsReadLeftmostPairFirstInEitherCase)
{
    const auto key = SkipJack::parseKey(u"7a2c19e4b05d63f8812E");
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(*key, (SkipJack::Key{0x7a, 0x2c, 0x19, 0xe4, 0xb0, 0x5d, 0x63, 0xf8, 0x81, 0x2e}));
    EXPECT_FALSE(SkipJack::parseKey(u"7A2C19E4B05D63F8812").has_value());
    EXPECT_FALSE(SkipJack::parseKey(u"7A2C19E4B05D63F8812E00").has_value());
    EXPECT_FALSE(SkipJack::parseKey(u"7A2C19E4B05D63F8812G").has_value());
    EXPECT_FALSE(SkipJack::parseKey(u"").has_value());
}

TEST(SkipJackCipher, DecryptionUndoesEncryptionUnderManyKeys)
{
    SkipJack::Key key{};
    SkipJack::Block block{};
    for (int i = 0; i < 200; ++i) {
        for (auto& b : key)
            b = std::uint8_t(b * 31 + i + 7);
        for (auto& b : block)
            b = std::uint8_t(b * 17 + i * 3 + 1);
        const SkipJack::Block cipher = SkipJack::encryptBlock(key, block);
        EXPECT_NE(cipher, block);
        EXPECT_EQ(SkipJack::decryptBlock(key, cipher), block);
    }
}

// Enciphered texts under the built-in key, worked out apart from this code. They are what the
// service holds as account passwords, so any change here locks users out.
TEST(SkipJackBuiltInKey, KnownEncipheredTexts)
{
    EXPECT_EQ(SkipJack::EncryptBlock(u"0000000000000000"), "6ECAB8B9F1532311");
    EXPECT_EQ(SkipJack::EncipherPassword(u"A"), "91F6EB00E327DBA7");
    EXPECT_EQ(SkipJack::EncipherPassword(u"ABC"), "94C2971F6994B384");
    EXPECT_EQ(SkipJack::EncipherPassword(u"ABCDEFGH"), "001CE4CB4F86358B");
    EXPECT_EQ(SkipJack::EncipherPassword(u"ABCDEFGHI"), "001CE4CB4F86358BBF4FE6F4DBC38E74");
    EXPECT_EQ(SkipJack::EncipherPassword(u"secret7"), "A86D5EB38CAE5EE2");
    // The euro sign is byte 80 in Windows-1252, not its Unicode value.
    EXPECT_EQ(SkipJack::EncipherPassword(QString::fromUtf8("\u20acuro")), "A773EE8946C449A1");
}

TEST(SkipJackBuiltInKey, LaterInitCannotChangeTheKeyInForce)
{
    SkipJack::SkipjackInit();
    const QString before = SkipJack::EncipherPassword(u"ABC");
    SkipJack::SkipjackInit(u"00998877665544332211");
    EXPECT_EQ(SkipJack::EncipherPassword(u"ABC"), before);
    EXPECT_EQ(before, "94C2971F6994B384");
}

TEST(SkipJackBuiltInKey, MalformedInitKeyLeavesTheBuiltInKey)
{
    SkipJack::SkipjackInit(u"not a key");
    EXPECT_EQ(SkipJack::EncipherPassword(u"ABC"), "94C2971F6994B384");
}

TEST(SkipJackBuiltInKey, ConcurrentFirstUseGivesOneKey)
{
    std::vector<QString> results(4);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < results.size(); ++t)
        threads.emplace_back([&results, t] { results[t] = SkipJack::EncipherPassword(u"ABCDEFGHI"); });
    for (auto& thread : threads)
        thread.join();
    for (const auto& result : results)
        EXPECT_EQ(result, "001CE4CB4F86358BBF4FE6F4DBC38E74");
}

TEST(SkipJackLayout, OddFinalBlocksPutTheLoneByteInTheLowHalfOfItsWord)
{
    EXPECT_EQ(SkipJack::EncipherPassword(u"ABC"), SkipJack::EncryptBlock(u"4142004300000000"));
    EXPECT_EQ(SkipJack::EncipherPassword(u"ABCDE"), SkipJack::EncryptBlock(u"4142434400450000"));
    EXPECT_EQ(SkipJack::EncipherPassword(u"ABCDEFG"), SkipJack::EncryptBlock(u"4142434445460047"));
    // Eleven characters leave three for the final block.
    EXPECT_EQ(SkipJack::EncipherPassword(u"ABCDEFGHIJK"),
        SkipJack::EncryptBlock(u"4142434445464748") + SkipJack::EncryptBlock(u"494A004B00000000"));
}

TEST(SkipJackLayout, OneByteAndEvenFinalBlocksArePaddedWithZerosAfter)
{
    EXPECT_EQ(SkipJack::EncipherPassword(u"A"), SkipJack::EncryptBlock(u"4100000000000000"));
    EXPECT_EQ(SkipJack::EncipherPassword(u"AB"), SkipJack::EncryptBlock(u"4142000000000000"));
    EXPECT_EQ(SkipJack::EncipherPassword(u"ABCD"), SkipJack::EncryptBlock(u"4142434400000000"));
    EXPECT_EQ(SkipJack::EncipherPassword(u"ABCDEF"), SkipJack::EncryptBlock(u"4142434445460000"));
}

TEST(SkipJackLayout, DecipheringGivesTheLaidOutBlocksBack)
{
    EXPECT_EQ(SkipJack::DecryptHex(SkipJack::EncipherPassword(u"ABC")), "4142004300000000");
    EXPECT_EQ(SkipJack::DecryptHex(SkipJack::EncipherPassword(u"ABCDEFGHI")), "41424344454647484900000000000000");
    EXPECT_EQ(SkipJack::DecryptBlock(SkipJack::EncryptBlock(u"0123456789ABCDEF")), "0123456789ABCDEF");
}

TEST(SkipJackLayout, BlocksAreEncipheredEachByItself)
{
    const QString twice = SkipJack::EncipherPassword(u"pass1234pass1234");
    ASSERT_EQ(twice.size(), 32);
    EXPECT_EQ(twice.left(16), twice.mid(16));
    EXPECT_EQ(twice.left(16), SkipJack::EncipherPassword(u"pass1234"));
}

TEST(SkipJackPassword, RoundTripsEveryLengthUpTo40)
{
    for (int length = 0; length <= 40; ++length) {
        const QString password = samplePassword(length);
        const QString enciphered = SkipJack::EncipherPassword(password);
        EXPECT_EQ(enciphered.size(), 16 * ((length + 7) / 8)) << "length " << length;
        EXPECT_TRUE(isUpperHex(enciphered)) << qPrintable(enciphered);
        EXPECT_EQ(SkipJack::DecipherPassword(enciphered), password) << "length " << length;
        EXPECT_EQ(SkipJack::EncipherPassword(password), enciphered) << "length " << length;
    }
}

TEST(SkipJackPassword, EmptyPasswordIsEmptyBothWays)
{
    EXPECT_EQ(SkipJack::EncipherPassword(u""), "");
    EXPECT_EQ(SkipJack::DecipherPassword(u""), "");
    EXPECT_EQ(SkipJack::DecryptHex(u""), "");
}

TEST(SkipJackPassword, LowerCaseEncipheredTextDeciphersTheSame)
{
    const QString enciphered = SkipJack::EncipherPassword(u"Hunter2!x");
    EXPECT_EQ(SkipJack::DecipherPassword(enciphered.toLower()), "Hunter2!x");
    EXPECT_EQ(SkipJack::DecryptHex(enciphered.toLower()), SkipJack::DecryptHex(enciphered));
}

TEST(SkipJackPassword, CharactersOutsideTheCodePageEncipherAsQuestionMarks)
{
    EXPECT_EQ(SkipJack::EncipherPassword(QString::fromUtf8("pa\u4e2dss")), SkipJack::EncipherPassword(u"pa?ss"));
    EXPECT_EQ(SkipJack::DecipherPassword(SkipJack::EncipherPassword(QString::fromUtf8("pa\u4e2dss"))), "pa?ss");
}

TEST(SkipJackHex, TwoUpperCaseDigitsPerWindows1252Byte)
{
    EXPECT_EQ(SkipJack::StrToHex(u"Az\t"), "417A09");
    EXPECT_EQ(SkipJack::StrToHex(QString::fromUtf8("\u20ac\u00ff")), "80FF");
    EXPECT_EQ(SkipJack::StrToHex(QString::fromUtf8("\u4e2d")), "3F");
    EXPECT_EQ(SkipJack::StrToHex(u""), "");
    EXPECT_EQ(SkipJack::HexToStr(u"417a09"), "Az\t");
    EXPECT_EQ(SkipJack::HexToStr(u"80fF"), QString::fromUtf8("\u20ac\u00ff"));
}

TEST(SkipJackHex, EveryByteSurvivesHexToTextAndBack)
{
    QString hex;
    for (int i = 0; i < 256; ++i)
        hex += QString::asprintf("%02X", i);
    const QString text = SkipJack::HexToStr(hex);
    ASSERT_EQ(text.size(), 256);
    EXPECT_EQ(SkipJack::StrToHex(text), hex);
}

TEST(SkipJackBadInput, MalformedEncipheredTextGivesEmptyText)
{
    const QString good = SkipJack::EncipherPassword(u"ABCDEFGHI");
    ASSERT_EQ(good.size(), 32);
    const QStringList bad = {
        good.left(31), // odd number of digits
        good.left(30), // even, but not whole blocks
        good + "00", // a stray byte after the blocks
        good.left(15) + "G" + good.mid(16), // a letter that is not a hex digit
        good.left(16) + " " + good.mid(17), // a space inside
        " " + good.left(15), // whole-block length, but a space
        QString::fromUtf8("\uff10\uff11\uff12\uff13\uff14\uff15\uff16\uff17\uff18\uff19\uff10\uff11\uff12\uff13\uff14"
                          "\uff15"), // full-width digits
        QString::fromUtf8("\u0660\u0661\u0662\u0663\u0664\u0665\u0666\u0667\u0668\u0669\u0660\u0661\u0662\u0663\u0664"
                          "\u0665"), // Arabic-Indic digits
    };
    for (const QString& text : bad) {
        EXPECT_EQ(SkipJack::DecryptHex(text), "") << qPrintable(text);
        EXPECT_EQ(SkipJack::DecipherPassword(text), "") << qPrintable(text);
    }
}

TEST(SkipJackBadInput, DamagedButWellFormedTextDeciphersToAnotherPassword)
{
    QString damaged = SkipJack::EncipherPassword(u"secret7");
    damaged[3] = damaged[3] == u'0' ? u'1' : u'0';
    const QString restored = SkipJack::DecipherPassword(damaged);
    EXPECT_NE(restored, "secret7");
    EXPECT_LE(restored.size(), 8);
}

TEST(SkipJackBadInput, OtherRoutinesRejectMalformedHex)
{
    EXPECT_EQ(SkipJack::EncryptHex(u"414"), "");
    EXPECT_EQ(SkipJack::EncryptHex(u"41zz"), "");
    EXPECT_EQ(SkipJack::HexToStr(u"414"), "");
    EXPECT_EQ(SkipJack::HexToStr(u"4x"), "");
    EXPECT_EQ(SkipJack::EncryptBlock(u"41424344"), "");
    EXPECT_EQ(SkipJack::EncryptBlock(u"414243444546474849"), "");
    EXPECT_EQ(SkipJack::EncryptBlock(u"414243444546474G"), "");
    EXPECT_EQ(SkipJack::DecryptBlock(u""), "");
    EXPECT_EQ(SkipJack::DecryptBlock(u"00000000000000000000000000000000"), "");
}
