#include "session/StoredPassword.h"

#include "desktop/PasswordKeyring.h"
#include "platform/Settings.h"

namespace cfb::client {
namespace {

// The keyring that is there to take the password, or none.
PasswordKeyring* keyring()
{
    PasswordKeyring* installed = PasswordKeyring::current();
    return installed && installed->available() ? installed : nullptr;
}

QString service()
{
    return Settings::ServiceHost.read().trimmed();
}

QString handle()
{
    return Settings::Handle.read().trimmed();
}

} // namespace

QString StoredPassword::read()
{
    const QString inFile = Settings::Password.read();
    PasswordKeyring* kept = handle().isEmpty() ? nullptr : keyring();
    if (!kept)
        return inFile;
    if (!inFile.isEmpty()) {
        // Written while no keyring answered, or before the client used one: the newest.
        if (kept->store(service(), handle(), inFile))
            Settings::Password.erase();
        return inFile;
    }
    return kept->lookup(service(), handle()).value_or(QString());
}

void StoredPassword::write(const QString& enciphered)
{
    PasswordKeyring* kept = handle().isEmpty() ? nullptr : keyring();
    if (kept
        && (enciphered.isEmpty() ? kept->clear(service(), handle()) : kept->store(service(), handle(), enciphered))) {
        Settings::Password.erase();
        return;
    }
    Settings::Password.write(enciphered);
}

} // namespace cfb::client
