#pragma once

#include <QStringView>

#include <cstdint>

// What the clients and the service agree an account may hold.
namespace cfb::AccountRules {

// The largest avatar file, in bytes: the clients do not send a larger one and the service refuses it.
inline constexpr int32_t MaxAvatarSize = 120000;

// The shortest handle a new account may have. Accounts registered before this rule keep their
// shorter handles: they sign in, are looked up and talk as before.
inline constexpr qsizetype MinHandleLength = 6;

// The longest handle the service takes.
inline constexpr qsizetype MaxHandleLength = 30;

// Whether a handle for a new account has MinHandleLength to MaxHandleLength characters.
constexpr bool hasNewHandleLength(QStringView handle)
{
    return handle.size() >= MinHandleLength && handle.size() <= MaxHandleLength;
}

// A password (as the user types it, before it is enciphered) has 6 to 30 characters.
inline constexpr qsizetype MinPasswordLength = 6;
inline constexpr qsizetype MaxPasswordLength = 30;
constexpr bool hasPasswordLength(QStringView password)
{
    return password.size() >= MinPasswordLength && password.size() <= MaxPasswordLength;
}

// A handle may not hold a space, '@', '`', '\'' or '"'.
bool hasForbiddenHandleCharacter(QStringView handle);

} // namespace cfb::AccountRules
