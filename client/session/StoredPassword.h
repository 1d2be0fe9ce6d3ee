#pragma once

#include <QString>

namespace cfb::client {

// The remembered password (its enciphered text) of the handle the client signs in with, at the
// configured service. Where the desktop has a keyring (PasswordKeyring) it is kept there and the
// settings file holds none; a password the file still holds from before is moved into the
// keyring when it is next read. Without a keyring it stays in the settings file ("password").
class StoredPassword {
public:
    // The enciphered password of the stored handle; empty when none is remembered.
    static QString read();
    // Remembers enciphered as the stored handle's password (an empty text forgets it).
    static void write(const QString& enciphered);
};

} // namespace cfb::client
