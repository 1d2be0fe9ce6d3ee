#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cfb::service {

// The command line of confabo-service.
struct ServiceOptions {
    std::string host = "127.0.0.1";
    uint16_t port = 8080;
    std::string database; // default: $XDG_DATA_HOME/confabo/confabo.db
    std::string path = "/cfb_maint.asp";
    unsigned threads = 0; // 0: one per core
    unsigned connectionsPerAddress = 32;
    unsigned requestTimeoutSeconds = 30;
    unsigned hashThreads = 0; // 0: half the cores, at least one
    unsigned hashQueue = 32;
    unsigned signInBurst = 30;
    unsigned signInRate = 30; // per minute
    unsigned mailRate = 60; // lines one sender may leave per minute (and at once)
    std::vector<std::string> trustedProxies; // numeric addresses
    std::string tlsCertificate; // PEM files: HTTPS when both are given, HTTP when neither
    std::string tlsKey;
    // The TURN relay signed-in users get time-limited credentials for: its URLs, and the secret it
    // shares with this service (given, or the first line of a file only its owner may read).
    std::vector<std::string> turnUrls;
    std::string turnSecret;
    std::string turnSecretFile;
    unsigned turnLifetimeSeconds = 24 * 3600;
    bool quiet = false;
    bool help = false;

    // Parses the arguments after the program name; nullopt with a reason in `error` when one is
    // wrong.
    static std::optional<ServiceOptions> parse(const std::vector<std::string>& arguments, std::string& error);
    static std::string defaultDatabase(); // "" when neither XDG_DATA_HOME nor HOME is set
    static const char* usage();
};

} // namespace cfb::service
