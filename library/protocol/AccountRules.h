#pragma once

#include <QStringView>

#include <cstdint>

// What the clients and the service agree an account may hold.
namespace cfb::AccountRules {

// The largest avatar file, in bytes: the clients do not send a larger one and the service refuses it.
inline constexpr int32_t MaxAvatarSize = 120000;

// The longest handle the service takes.
inline constexpr qsizetype MaxHandleLength = 30;

// A handle may not hold a space, '@', '`', '\'' or '"'.
bool hasForbiddenHandleCharacter(QStringView handle);

} // namespace cfb::AccountRules
