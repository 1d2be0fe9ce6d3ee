#pragma once

#include <gnutls/abstract.h>
#include <gnutls/gnutls.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace cfb::service {

// The certificate chain and private key the server presents, read from PEM files (a certificate
// followed by its intermediates, as ACME clients write "fullchain.pem"; the key unencrypted).
// reload() reads the files again and swaps in the new pair as a whole. A connection takes the pair
// that is current when it starts and holds it until it closes, so a renewal reaches every new
// connection while the open ones finish undisturbed.
class TlsCredentials {
public:
    struct KeyPair {
        std::vector<gnutls_pcert_st> chain;
        gnutls_privkey_t key = nullptr;
        std::string description; // subject and end of validity, for the log

        KeyPair() = default;
        KeyPair(const KeyPair&) = delete;
        KeyPair& operator=(const KeyPair&) = delete;
        ~KeyPair();
    };

    TlsCredentials(std::string certificateFile, std::string keyFile);

    // Reads both files; on any fault (unreadable, not PEM, a key that is not the certificate's)
    // keeps the pair in use and says why.
    bool reload(std::string& error);
    // The pair in use; null before the first successful load.
    std::shared_ptr<const KeyPair> current() const;

private:
    std::string certificateFile_;
    std::string keyFile_;
    mutable std::mutex mutex_;
    std::shared_ptr<const KeyPair> current_;
};

} // namespace cfb::service
