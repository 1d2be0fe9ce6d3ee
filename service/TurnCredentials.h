#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <string>

namespace cfb::service {

class XmlReply;

// Time-limited credentials for the TURN relay (coturn's use-auth-secret, the "TURN REST"
// scheme): the username is "EXPIRY:USERID" (expiry in seconds since 1970), the password
// base64(HMAC-SHA1(secret, username)). The relay checks both with the secret it shares with this
// service; the secret itself never leaves here and is never written anywhere.
class TurnCredentials {
public:
    static constexpr int64_t DefaultLifetimeSeconds = 24 * 3600;

    TurnCredentials(QStringList urls, QByteArray secret, int64_t lifetimeSeconds);

    struct Issued {
        QString username;
        QString password;
        int64_t expires = 0;
    };
    Issued issue(int32_t userId, int64_t nowSeconds) const;
    // The relay elements of a sign-in's reply: one turn_url per server, then turn_username,
    // turn_password and turn_ttl (seconds the credentials are good for).
    void appendTo(XmlReply& reply, int32_t userId) const;

    // The secret in file: its first line, which must not be empty. nullopt with the reason when
    // the file cannot be read or group or others may read it (as with a private key).
    static std::optional<QByteArray> readSecretFile(const std::string& path, std::string& error);

private:
    QStringList urls_;
    QByteArray secret_;
    int64_t lifetime_;
};

} // namespace cfb::service
