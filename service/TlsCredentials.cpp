#include "TlsCredentials.h"

#include <gnutls/x509.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>

namespace cfb::service {
namespace {

// Intermediates beyond this are no chain a client would follow.
constexpr unsigned MaxChainLength = 16;

bool readFile(const std::string& path, std::string& bytes, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = "cannot read " + path;
        return false;
    }
    return true;
}

gnutls_datum_t datum(const std::string& bytes)
{
    return {reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data())), unsigned(bytes.size())};
}

bool sameKeyId(gnutls_pubkey_t a, gnutls_pubkey_t b)
{
    unsigned char idA[64];
    unsigned char idB[64];
    size_t lengthA = sizeof idA;
    size_t lengthB = sizeof idB;
    return gnutls_pubkey_get_key_id(a, GNUTLS_KEYID_USE_SHA256, idA, &lengthA) == 0
        && gnutls_pubkey_get_key_id(b, GNUTLS_KEYID_USE_SHA256, idB, &lengthB) == 0 && lengthA == lengthB
        && std::memcmp(idA, idB, lengthA) == 0;
}

// Whether the private key belongs to the certificate's public key.
bool keyMatches(gnutls_privkey_t key, gnutls_pubkey_t certificateKey)
{
    gnutls_pubkey_t derived = nullptr;
    if (gnutls_pubkey_init(&derived) != 0)
        return false;
    const bool matches = gnutls_pubkey_import_privkey(derived, key, 0, 0) == 0 && sameKeyId(derived, certificateKey);
    gnutls_pubkey_deinit(derived);
    return matches;
}

// "CN=host (valid until 2027-03-01 12:00 UTC)", and a warning when that has passed.
std::string describe(const gnutls_datum_t& der)
{
    gnutls_x509_crt_t certificate = nullptr;
    if (gnutls_x509_crt_init(&certificate) != 0)
        return {};
    std::string text;
    if (gnutls_x509_crt_import(certificate, &der, GNUTLS_X509_FMT_DER) == 0) {
        gnutls_datum_t dn{};
        if (gnutls_x509_crt_get_dn3(certificate, &dn, 0) == 0) {
            text.assign(reinterpret_cast<const char*>(dn.data), dn.size);
            gnutls_free(dn.data);
        }
        const time_t expires = gnutls_x509_crt_get_expiration_time(certificate);
        tm utc{};
        char when[32] = {};
        if (expires != time_t(-1) && gmtime_r(&expires, &utc))
            std::strftime(when, sizeof when, "%Y-%m-%d %H:%M UTC", &utc);
        text += std::string(" (valid until ") + when + ")";
        if (expires != time_t(-1) && expires < std::time(nullptr))
            text += ", EXPIRED: clients will refuse it";
    }
    gnutls_x509_crt_deinit(certificate);
    return text;
}

} // namespace

TlsCredentials::KeyPair::~KeyPair()
{
    for (gnutls_pcert_st& certificate : chain)
        gnutls_pcert_deinit(&certificate);
    if (key)
        gnutls_privkey_deinit(key);
}

TlsCredentials::TlsCredentials(std::string certificateFile, std::string keyFile)
    : certificateFile_(std::move(certificateFile))
    , keyFile_(std::move(keyFile))
{
}

bool TlsCredentials::reload(std::string& error)
{
    std::string certificateBytes;
    std::string keyBytes;
    if (!readFile(certificateFile_, certificateBytes, error) || !readFile(keyFile_, keyBytes, error))
        return false;

    auto pair = std::make_shared<KeyPair>();
    std::vector<gnutls_pcert_st> chain(MaxChainLength);
    unsigned length = MaxChainLength;
    const gnutls_datum_t certificateData = datum(certificateBytes);
    int rc = gnutls_pcert_list_import_x509_raw(
        chain.data(), &length, &certificateData, GNUTLS_X509_FMT_PEM, GNUTLS_X509_CRT_LIST_SORT);
    if (rc < 0 || length == 0) {
        error = certificateFile_ + " holds no PEM certificate chain: " + gnutls_strerror(rc);
        return false;
    }
    chain.resize(length);
    pair->chain = std::move(chain);

    if ((rc = gnutls_privkey_init(&pair->key)) == 0) {
        const gnutls_datum_t keyData = datum(keyBytes);
        rc = gnutls_privkey_import_x509_raw(pair->key, &keyData, GNUTLS_X509_FMT_PEM, nullptr, 0);
    }
    if (rc < 0) {
        error = keyFile_ + " holds no unencrypted PEM private key: " + gnutls_strerror(rc);
        return false;
    }
    if (!keyMatches(pair->key, pair->chain.front().pubkey)) {
        error = "the key in " + keyFile_ + " is not the one of the certificate in " + certificateFile_
            + " (the first in the file: the service's own certificate, then its intermediates)";
        return false;
    }
    pair->description = describe(pair->chain.front().cert);

    std::lock_guard lock(mutex_);
    current_ = std::move(pair);
    return true;
}

std::shared_ptr<const TlsCredentials::KeyPair> TlsCredentials::current() const
{
    std::lock_guard lock(mutex_);
    return current_;
}

} // namespace cfb::service
