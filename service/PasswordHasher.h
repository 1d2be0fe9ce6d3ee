#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstddef>
#include <cstdint>

namespace cfb::service {

// argon2id hashes of the (already enciphered) password text that clients send. The cost is
// chosen so that one sign-in stays well under 50 ms on a small server core.
class PasswordHasher {
public:
    static constexpr uint64_t OpsLimit = 2;
    static constexpr size_t MemLimit = 16u * 1024u * 1024u; // bytes

    PasswordHasher(); // initialises libsodium; throws when it cannot
    QByteArray hash(QByteArrayView password) const; // the encoded "$argon2id$..." string
    bool verify(const QByteArray& hash, QByteArrayView password) const;
    // Spends the time of one verification without a stored hash, so an unknown handle answers
    // no faster than a wrong password.
    void verifyNothing(QByteArrayView password) const;

private:
    QByteArray dummy_;
};

} // namespace cfb::service
