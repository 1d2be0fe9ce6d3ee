#pragma once

#include "channel/NoiseTypes.h"

#include <QString>

#include <optional>

namespace cfb {

// The public keys this profile has seen for other users, pinned on first use, and the ones the
// user compared (verified) with the buddy. Kept in the settings file, section "Peer Keys" (and
// "Verified Keys"), one key a handle (in lower case) in base64: public keys only, never a secret.
namespace KeyPins {

std::optional<Key32> pinned(const QString& handle);
void pin(const QString& handle, const Key32& key);
// Forgets the handle's key and its verification.
void forget(const QString& handle);

// Whether the user marked the pinned key as verified; a key that changed is no longer verified.
bool verified(const QString& handle);
void setVerified(const QString& handle, bool on);

// Base64 of a key, and a key from its base64 (nothing unless exactly 32 bytes).
QString toText(const Key32& key);
std::optional<Key32> fromText(const QString& text);

} // namespace KeyPins
} // namespace cfb
