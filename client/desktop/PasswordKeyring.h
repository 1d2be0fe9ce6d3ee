#pragma once

#include <QString>

#include <optional>

namespace cfb::client {

// Where the desktop keeps secrets for the user (GNOME Keyring, KWallet: a Secret Service), for
// the one secret the client keeps, the account password, by service address and handle. The
// program installs the Secret Service one; with none installed (tests) there is no keyring.
class PasswordKeyring {
public:
    virtual ~PasswordKeyring() = default;

    // False when the desktop has no keyring to ask, or it cannot be reached.
    virtual bool available() = 0;
    // The password kept for handle at service: empty when none is kept, nothing when the keyring
    // could not be asked.
    virtual std::optional<QString> lookup(const QString& service, const QString& handle) = 0;
    // Keeps password for handle at service in place of any kept before; false when it was not kept.
    virtual bool store(const QString& service, const QString& handle, const QString& password) = 0;
    // Forgets the password of handle at service; false when the keyring could not be asked.
    virtual bool clear(const QString& service, const QString& handle) = 0;

    // The installed keyring, nullptr for none.
    static PasswordKeyring* current();
    static void install(PasswordKeyring* keyring);
};

} // namespace cfb::client
