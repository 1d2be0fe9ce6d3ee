#pragma once

#include "channel/NoiseTypes.h"

#include <QString>

#include <optional>

namespace cfb {

struct IdentityLoadResult;

// The profile's long-term X25519 key pair, which peers know this user by. It lives in a file of
// its own, identity.key beside the settings file, of exactly 83 bytes:
//   "CONFABO IDENTITY 1\n"   19 bytes
//   secret key               32 bytes
//   public key               32 bytes (the secret's, checked on every load)
// The file must be a regular file (not a link) owned by the user, with no group or other
// permission bits. A file that is wrong in any way is never replaced or changed: loading fails
// with a text that says what is wrong and how to put it right, since a new identity would make
// every buddy see a new safety number.
//
// The secret never goes into a text, a log or an exception; every copy is wiped when it goes.
class Identity {
public:
    static constexpr char Magic[] = "CONFABO IDENTITY 1\n";
    static constexpr size_t MagicSize = sizeof Magic - 1;
    static constexpr size_t FileSize = MagicSize + 2 * Noise::KeySize;

    using LoadResult = IdentityLoadResult;

    // identity.key in the settings file's folder.
    static QString defaultPath();
    // Reads the key pair at path, or, when there is no file, makes one and stores it there
    // (creating missing folders with mode 0700). Two processes starting at once end up with
    // the same key: the one that stores second reads the first one's file.
    static LoadResult loadOrCreate(const QString& path);

    static Identity fromSecret(const Key32& secret);

    const Key32& publicKey() const { return public_; }
    const Key32& secretKey() const { return secret_.get(); }

private:
    Identity(const Key32& secret, const Key32& publicKey) : secret_(secret), public_(publicKey) {}

    SecretKey32 secret_;
    Key32 public_{};
};

struct IdentityLoadResult {
    std::optional<Identity> identity;
    QString problem; // for the user; empty when identity is set
    bool created = false;
};

} // namespace cfb
