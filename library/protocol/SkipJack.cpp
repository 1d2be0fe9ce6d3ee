#include "protocol/SkipJack.h"

#include "protocol/Cp1252.h"
#include "protocol/HexText.h"

#include <QByteArray>

#include <algorithm>
#include <mutex>

namespace cfb::SkipJack {
namespace {

// Skipjack's published F-table.
constexpr std::array<std::uint8_t, 256> F = {
    0xa3, 0xd7, 0x09, 0x83, 0xf8, 0x48, 0xf6, 0xf4, 0xb3, 0x21, 0x15, 0x78, 0x99, 0xb1, 0xaf, 0xf9, //
    0xe7, 0x2d, 0x4d, 0x8a, 0xce, 0x4c, 0xca, 0x2e, 0x52, 0x95, 0xd9, 0x1e, 0x4e, 0x38, 0x44, 0x28, //
    0x0a, 0xdf, 0x02, 0xa0, 0x17, 0xf1, 0x60, 0x68, 0x12, 0xb7, 0x7a, 0xc3, 0xe9, 0xfa, 0x3d, 0x53, //
    0x96, 0x84, 0x6b, 0xba, 0xf2, 0x63, 0x9a, 0x19, 0x7c, 0xae, 0xe5, 0xf5, 0xf7, 0x16, 0x6a, 0xa2, //
    0x39, 0xb6, 0x7b, 0x0f, 0xc1, 0x93, 0x81, 0x1b, 0xee, 0xb4, 0x1a, 0xea, 0xd0, 0x91, 0x2f, 0xb8, //
    0x55, 0xb9, 0xda, 0x85, 0x3f, 0x41, 0xbf, 0xe0, 0x5a, 0x58, 0x80, 0x5f, 0x66, 0x0b, 0xd8, 0x90, //
    0x35, 0xd5, 0xc0, 0xa7, 0x33, 0x06, 0x65, 0x69, 0x45, 0x00, 0x94, 0x56, 0x6d, 0x98, 0x9b, 0x76, //
    0x97, 0xfc, 0xb2, 0xc2, 0xb0, 0xfe, 0xdb, 0x20, 0xe1, 0xeb, 0xd6, 0xe4, 0xdd, 0x47, 0x4a, 0x1d, //
    0x42, 0xed, 0x9e, 0x6e, 0x49, 0x3c, 0xcd, 0x43, 0x27, 0xd2, 0x07, 0xd4, 0xde, 0xc7, 0x67, 0x18, //
    0x89, 0xcb, 0x30, 0x1f, 0x8d, 0xc6, 0x8f, 0xaa, 0xc8, 0x74, 0xdc, 0xc9, 0x5d, 0x5c, 0x31, 0xa4, //
    0x70, 0x88, 0x61, 0x2c, 0x9f, 0x0d, 0x2b, 0x87, 0x50, 0x82, 0x54, 0x64, 0x26, 0x7d, 0x03, 0x40, //
    0x34, 0x4b, 0x1c, 0x73, 0xd1, 0xc4, 0xfd, 0x3b, 0xcc, 0xfb, 0x7f, 0xab, 0xe6, 0x3e, 0x5b, 0xa5, //
    0xad, 0x04, 0x23, 0x9c, 0x14, 0x51, 0x22, 0xf0, 0x29, 0x79, 0x71, 0x7e, 0xff, 0x8c, 0x0e, 0xe2, //
    0x0c, 0xef, 0xbc, 0x72, 0x75, 0x6f, 0x37, 0xa1, 0xec, 0xd3, 0x8e, 0x62, 0x8b, 0x86, 0x10, 0xe8, //
    0x08, 0x77, 0x11, 0xbe, 0x92, 0x4f, 0x24, 0xc5, 0x32, 0x36, 0x9d, 0xcf, 0xf3, 0xa6, 0xbb, 0xac, //
    0x5e, 0x6c, 0xa9, 0x13, 0x57, 0x25, 0xb5, 0xe3, 0xbd, 0xa8, 0x3a, 0x01, 0x05, 0x59, 0x2a, 0x46, //
};

constexpr int Rounds = 32;
constexpr qsizetype BlockDigits = 2 * std::tuple_size_v<Block>;

// The key schedule repeats the ten key bytes: round k (from 1) uses schedule entries 4(k-1) to
// 4(k-1)+3, and entry j is cv(j mod 10).
constexpr std::uint8_t scheduleEntry(const Key& cv, int round, int step)
{
    return cv[(4 * (round - 1) + step) % 10];
}

std::uint16_t g(const Key& cv, int round, std::uint16_t word)
{
    const std::uint8_t g1 = word >> 8;
    const std::uint8_t g2 = word & 0xff;
    const std::uint8_t g3 = F[g2 ^ scheduleEntry(cv, round, 0)] ^ g1;
    const std::uint8_t g4 = F[g3 ^ scheduleEntry(cv, round, 1)] ^ g2;
    const std::uint8_t g5 = F[g4 ^ scheduleEntry(cv, round, 2)] ^ g3;
    const std::uint8_t g6 = F[g5 ^ scheduleEntry(cv, round, 3)] ^ g4;
    return std::uint16_t(g5 << 8 | g6);
}

std::uint16_t gInverse(const Key& cv, int round, std::uint16_t word)
{
    const std::uint8_t g5 = word >> 8;
    const std::uint8_t g6 = word & 0xff;
    const std::uint8_t g4 = F[g5 ^ scheduleEntry(cv, round, 3)] ^ g6;
    const std::uint8_t g3 = F[g4 ^ scheduleEntry(cv, round, 2)] ^ g5;
    const std::uint8_t g2 = F[g3 ^ scheduleEntry(cv, round, 1)] ^ g4;
    const std::uint8_t g1 = F[g2 ^ scheduleEntry(cv, round, 0)] ^ g3;
    return std::uint16_t(g1 << 8 | g2);
}

// Rounds 1-8 and 17-24 step by rule A, rounds 9-16 and 25-32 by rule B.
constexpr bool usesRuleA(int round)
{
    return ((round - 1) / 8) % 2 == 0;
}

QByteArrayView blockBytes(const Block& block)
{
    return QByteArrayView(reinterpret_cast<const char*>(block.data()), qsizetype(block.size()));
}

Block blockAt(const QByteArray& bytes, qsizetype offset)
{
    Block block;
    std::copy_n(reinterpret_cast<const std::uint8_t*>(bytes.constData()) + offset, block.size(), block.begin());
    return block;
}

// A final block of 1 to 7 bytes: bytes go into the words in pairs, high half first, and the
// remaining halves are zero; a lone last byte sits in the high half of w1 when it is the only
// byte, otherwise in the low half of its own word (so A B C gives 41 42 00 43 00 00 00 00).
Block finalBlock(const QByteArray& bytes, qsizetype offset, qsizetype count)
{
    Block block{};
    const auto* src = reinterpret_cast<const std::uint8_t*>(bytes.constData()) + offset;
    std::copy_n(src, count & ~qsizetype(1), block.begin());
    if (count % 2 != 0)
        block[count == 1 ? 0 : count] = src[count - 1];
    return block;
}

std::once_flag keyOnce;
Key processKey{};

const Key& currentKey()
{
    SkipjackInit(BuiltInKey);
    return processKey;
}

} // namespace

std::optional<Key> parseKey(QStringView keyText)
{
    if (keyText.size() != 2 * qsizetype(std::tuple_size_v<Key>))
        return std::nullopt;
    const auto bytes = HexText::toBytes(keyText);
    if (!bytes)
        return std::nullopt;
    Key key;
    std::copy_n(reinterpret_cast<const std::uint8_t*>(bytes->constData()), key.size(), key.begin());
    return key;
}

namespace {

// A block as four 16-bit words, the first byte of each pair being the high half.
std::array<std::uint16_t, 4> toWords(const Block& b)
{
    return {std::uint16_t(b[0] << 8 | b[1]), std::uint16_t(b[2] << 8 | b[3]), std::uint16_t(b[4] << 8 | b[5]),
        std::uint16_t(b[6] << 8 | b[7])};
}

Block fromWords(std::uint16_t w1, std::uint16_t w2, std::uint16_t w3, std::uint16_t w4)
{
    return {std::uint8_t(w1 >> 8), std::uint8_t(w1), std::uint8_t(w2 >> 8), std::uint8_t(w2), std::uint8_t(w3 >> 8),
        std::uint8_t(w3), std::uint8_t(w4 >> 8), std::uint8_t(w4)};
}

} // namespace

Block encryptBlock(const Key& key, const Block& plain)
{
    auto [w1, w2, w3, w4] = toWords(plain);
    for (int k = 1; k <= Rounds; ++k) {
        const std::uint16_t gw1 = g(key, k, w1);
        if (usesRuleA(k)) {
            const std::uint16_t next1 = gw1 ^ w4 ^ k;
            w4 = w3;
            w3 = w2;
            w2 = gw1;
            w1 = next1;
        } else {
            const std::uint16_t next3 = w1 ^ w2 ^ k;
            const std::uint16_t next1 = w4;
            w4 = w3;
            w3 = next3;
            w2 = gw1;
            w1 = next1;
        }
    }
    return fromWords(w1, w2, w3, w4);
}

Block decryptBlock(const Key& key, const Block& cipher)
{
    auto [w1, w2, w3, w4] = toWords(cipher);
    for (int k = Rounds; k >= 1; --k) {
        const std::uint16_t prev1 = gInverse(key, k, w2);
        if (usesRuleA(k)) {
            const std::uint16_t prev4 = w1 ^ w2 ^ k;
            w1 = prev1;
            w2 = w3;
            w3 = w4;
            w4 = prev4;
        } else {
            const std::uint16_t prev2 = prev1 ^ w3 ^ k;
            const std::uint16_t prev4 = w1;
            w1 = prev1;
            w2 = prev2;
            w3 = w4;
            w4 = prev4;
        }
    }
    return fromWords(w1, w2, w3, w4);
}

void SkipjackInit(QStringView keyText)
{
    std::call_once(keyOnce, [keyText] {
        const auto key = parseKey(keyText);
        processKey = key ? *key : *parseKey(BuiltInKey);
    });
}

QString StrToHex(QStringView text)
{
    return HexText::fromBytes(toCp1252(text));
}

QString HexToStr(QStringView hex)
{
    const auto bytes = HexText::toBytes(hex);
    return bytes ? fromCp1252(*bytes) : QString();
}

QString EncryptHex(QStringView hex)
{
    const auto bytes = HexText::toBytes(hex);
    if (!bytes)
        return {};
    const Key& key = currentKey();
    const qsizetype blockSize = std::tuple_size_v<Block>;
    QString out;
    out.reserve((bytes->size() + blockSize - 1) / blockSize * BlockDigits);
    for (qsizetype offset = 0; offset < bytes->size(); offset += blockSize) {
        const qsizetype count = std::min(blockSize, bytes->size() - offset);
        const Block plain = count == blockSize ? blockAt(*bytes, offset) : finalBlock(*bytes, offset, count);
        out += HexText::fromBytes(blockBytes(encryptBlock(key, plain)));
    }
    return out;
}

QString DecryptHex(QStringView hex)
{
    if (hex.size() % BlockDigits != 0)
        return {};
    const auto bytes = HexText::toBytes(hex);
    if (!bytes)
        return {};
    const Key& key = currentKey();
    const qsizetype blockSize = std::tuple_size_v<Block>;
    QString out;
    out.reserve(hex.size());
    for (qsizetype offset = 0; offset < bytes->size(); offset += blockSize)
        out += HexText::fromBytes(blockBytes(decryptBlock(key, blockAt(*bytes, offset))));
    return out;
}

QString EncryptBlock(QStringView block)
{
    return block.size() == BlockDigits ? EncryptHex(block) : QString();
}

QString DecryptBlock(QStringView block)
{
    return block.size() == BlockDigits ? DecryptHex(block) : QString();
}

QString EncipherPassword(QStringView password)
{
    return EncryptHex(StrToHex(password));
}

QString DecipherPassword(QStringView enciphered)
{
    return HexToStr(DecryptHex(enciphered)).remove(QChar(0));
}

} // namespace cfb::SkipJack
