#pragma once

#include "desktop/PasswordKeyring.h"

namespace cfb::client {

// The desktop's Secret Service through libsecret. Each password is an item of the default
// collection (the login keyring) labelled "Confabo password for <handle> at <service>".
class SecretServiceKeyring : public PasswordKeyring {
public:
    bool available() override;
    std::optional<QString> lookup(const QString& service, const QString& handle) override;
    bool store(const QString& service, const QString& handle, const QString& password) override;
    bool clear(const QString& service, const QString& handle) override;
};

} // namespace cfb::client
