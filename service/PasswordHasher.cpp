#include "PasswordHasher.h"

#include <sodium.h>

#include <stdexcept>

namespace cfb::service {

PasswordHasher::PasswordHasher()
{
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium cannot be initialised");
    dummy_ = hash("no such user");
}

QByteArray PasswordHasher::hash(QByteArrayView password) const
{
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(
            out, password.data(), size_t(password.size()), OpsLimit, MemLimit, crypto_pwhash_ALG_ARGON2ID13)
        != 0)
        throw std::runtime_error("out of memory while hashing a password");
    return QByteArray(out);
}

bool PasswordHasher::verify(const QByteArray& hash, QByteArrayView password) const
{
    // crypto_pwhash_str_verify reads a NUL-terminated string; QByteArray always has one.
    if (hash.isEmpty() || hash.size() >= qsizetype(crypto_pwhash_STRBYTES))
        return false;
    return crypto_pwhash_str_verify(hash.constData(), password.data(), size_t(password.size())) == 0;
}

void PasswordHasher::verifyNothing(QByteArrayView password) const
{
    (void)verify(dummy_, password);
}

} // namespace cfb::service
