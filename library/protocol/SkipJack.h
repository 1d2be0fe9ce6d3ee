#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <optional>

// The stored-password cipher. A password is kept and sent only as its enciphered text: its
// Windows-1252 bytes, enciphered with Skipjack in electronic code book mode under a key that is
// the same on every installation, written as upper-case hex (16 digits per 8-byte block). The
// service keeps that text as the account password, so the block layout and the key are part of
// the account format and must never change.
//
// Every routine is safe to call from any thread. The key schedule is set up once per process:
// by the first SkipjackInit, or with the built-in key by whichever routine runs first.
namespace cfb::SkipJack {

inline constexpr QStringView BuiltInKey = u"7A2C19E4B05D63F8812E";

using Key = std::array<std::uint8_t, 10>;
using Block = std::array<std::uint8_t, 8>;

// Fixes the process's key from 20 hex digits (cv0 is the leftmost pair). Only the first call
// counts; a key text that is not 20 hex digits sets up the built-in key instead.
void SkipjackInit(QStringView keyText = BuiltInKey);

// Each character's Windows-1252 code as two upper-case hex digits; '?' (3F) for a character the
// code page lacks.
QString StrToHex(QStringView text);
// Each digit pair, from the left, becomes the character with that Windows-1252 code.
QString HexToStr(QStringView hex);

// Enciphers hex text of plain bytes block by block; a short final block is laid out as the
// account format requires (see SkipJack.cpp).
QString EncryptHex(QStringView hex);
// Deciphers enciphered text block by block into the hex text of the plain blocks, zero bytes of
// the final block included.
QString DecryptHex(QStringView hex);

// One block of exactly 16 hex digits under the process's key.
QString EncryptBlock(QStringView block);
QString DecryptBlock(QStringView block);

// Hex digits are read in either case and written in upper case. Malformed hex input (an odd
// number of digits, a character that is not an ASCII hex digit, or for the deciphering routines
// a length that is not a whole number of blocks) gives the empty text: nothing is guessed.

// The enciphered text of a password, as stored in the settings and given to the service.
QString EncipherPassword(QStringView password);
// The password back from its enciphered text, with the zero bytes of the layout removed. Empty
// when the text is not well-formed.
QString DecipherPassword(QStringView enciphered);

// The block cipher under an explicit key, apart from the process's key.
std::optional<Key> parseKey(QStringView keyText);
Block encryptBlock(const Key& key, const Block& plain);
Block decryptBlock(const Key& key, const Block& cipher);

} // namespace cfb::SkipJack
