#include "ServiceOptions.h"

#include "TrustedProxies.h"

#include <cstdlib>
#include <map>

namespace cfb::service {
namespace {

// "HOST:PORT", "[IPv6]:PORT"; false when it is neither.
bool parseListen(const std::string& text, std::string& host, uint16_t& port)
{
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 == text.size())
        return false;
    std::string h = text.substr(0, colon);
    if (h.size() >= 2 && h.front() == '[' && h.back() == ']')
        h = h.substr(1, h.size() - 2);
    else if (h.find(':') != std::string::npos)
        return false; // an IPv6 address needs brackets
    const std::string p = text.substr(colon + 1);
    if (p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long number = std::strtoul(p.c_str(), nullptr, 10);
    if (number > 65535 || h.empty())
        return false;
    host = h;
    port = uint16_t(number);
    return true;
}

} // namespace

std::string ServiceOptions::defaultDatabase()
{
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && *data == '/')
        return std::string(data) + "/confabo/confabo.db";
    const char* home = std::getenv("HOME");
    if (home && *home)
        return std::string(home) + "/.local/share/confabo/confabo.db";
    return {};
}

const char* ServiceOptions::usage()
{
    return "usage: confabo-service [--listen HOST:PORT] [--db FILE|URI] [--path /cfb_maint.asp] [--threads N] "
           "[--quiet]\n"
           "                       [--tls-cert FILE --tls-key FILE]\n"
           "                       [--turn-url URL... --turn-secret-file FILE|--turn-secret SECRET] [--turn-lifetime S]\n"
           "                       [--connections-per-address N] [--request-timeout SECONDS] [--hash-threads N]\n"
           "                       [--hash-queue N] [--sign-in-burst N] [--sign-in-rate N] [--mail-rate N]\n"
           "                       [--trusted-proxy ADDR]...\n"
           "  --listen HOST:PORT  address to accept requests on (default 127.0.0.1:8080; port 0 picks a free one)\n"
           "  --db FILE|URI       SQLite database file (default $XDG_DATA_HOME/confabo/confabo.db), or a\n"
           "                      PostgreSQL connection URI: postgresql://USER@HOST/DATABASE\n"
           "  --path PATH         request path of the endpoint (default /cfb_maint.asp)\n"
           "  --threads N         worker threads (default: one per core)\n"
           "  --quiet             no log line per request on standard error\n"
           "  --connections-per-address N  connections one client address may hold at once (default 32)\n"
           "  --request-timeout SECONDS    time for a request to arrive whole, headers and body (default 30)\n"
           "  --hash-threads N    threads that hash passwords (default: half the cores, at least one)\n"
           "  --hash-queue N      sign-ins waiting for a hashing thread before more are refused (default 32)\n"
           "  --sign-in-burst N   sign-ins, registrations and password changes one address may make at once "
           "(default 30)\n"
           "  --sign-in-rate N    of those, how many per minute an address gets back (default 30)\n"
           "  --mail-rate N       lines one user may leave in mailboxes per minute, and at once (default 60)\n"
           "  --trusted-proxy ADDR  a reverse proxy's IP address: requests from it name the client in\n"
           "                      X-Forwarded-For (the right-most entry that is no trusted proxy); may be repeated\n"
           "  --tls-cert FILE     serve HTTPS with this PEM certificate chain (as fullchain.pem: the\n"
           "                      certificate, then its intermediates); needs --tls-key\n"
           "  --tls-key FILE      the certificate's PEM private key; both files are read again on SIGHUP\n"
           "  --turn-url URL      a TURN relay signed-in users may use: turn:HOST:3478, turn:HOST:443?transport=tcp,\n"
           "                      turns:HOST:443; may be repeated; needs the relay's shared secret\n"
           "  --turn-secret-file FILE  the secret shared with the relay (coturn's static-auth-secret), the\n"
           "                      file's first line; refused when group or others may read the file\n"
           "  --turn-secret SECRET the same on the command line (seen by every user of the machine: prefer the file)\n"
           "  --turn-lifetime SECONDS  how long the relay credentials given at sign-in last (default 86400)\n";
}

std::optional<ServiceOptions> ServiceOptions::parse(const std::vector<std::string>& arguments, std::string& error)
{
    struct NumberOption {
        unsigned ServiceOptions::*field;
        unsigned long min;
        unsigned long max;
    };
    static const std::map<std::string, NumberOption> numbers = {
        {"--threads", {&ServiceOptions::threads, 1, 256}},
        {"--connections-per-address", {&ServiceOptions::connectionsPerAddress, 1, 10000}},
        {"--request-timeout", {&ServiceOptions::requestTimeoutSeconds, 1, 3600}},
        {"--hash-threads", {&ServiceOptions::hashThreads, 1, 64}},
        {"--hash-queue", {&ServiceOptions::hashQueue, 1, 100000}},
        {"--sign-in-burst", {&ServiceOptions::signInBurst, 1, 1000000}},
        {"--sign-in-rate", {&ServiceOptions::signInRate, 1, 1000000}},
        {"--turn-lifetime", {&ServiceOptions::turnLifetimeSeconds, 60, 30 * 24 * 3600}},
        {"--mail-rate", {&ServiceOptions::mailRate, 1, 1000000}},
    };
    ServiceOptions options;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& name = arguments[i];
        const auto value = [&]() -> const std::string* { return i + 1 < arguments.size() ? &arguments[++i] : nullptr; };
        if (name == "--quiet") {
            options.quiet = true;
        } else if (name == "--help" || name == "-h") {
            options.help = true;
        } else if (name == "--listen") {
            const std::string* v = value();
            if (!v || !parseListen(*v, options.host, options.port)) {
                error = "--listen wants HOST:PORT";
                return std::nullopt;
            }
        } else if (name == "--db") {
            const std::string* v = value();
            if (!v || v->empty()) {
                error = "--db wants a file name or a postgresql:// URI";
                return std::nullopt;
            }
            options.database = *v;
        } else if (name == "--path") {
            const std::string* v = value();
            if (!v || v->empty()) {
                error = "--path wants a request path";
                return std::nullopt;
            }
            options.path = v->front() == '/' ? *v : "/" + *v;
        } else if (name == "--tls-cert" || name == "--tls-key") {
            const std::string* v = value();
            if (!v || v->empty()) {
                error = name + " wants a PEM file";
                return std::nullopt;
            }
            (name == "--tls-cert" ? options.tlsCertificate : options.tlsKey) = *v;
        } else if (name == "--turn-url") {
            const std::string* v = value();
            if (!v || !(v->rfind("turn:", 0) == 0 || v->rfind("turns:", 0) == 0) || v->size() > 255
                || v->find_first_of("<>&\"' ") != std::string::npos) {
                error = "--turn-url wants turn:HOST[:PORT][?transport=tcp] or turns:HOST[:PORT]";
                return std::nullopt;
            }
            options.turnUrls.push_back(*v);
        } else if (name == "--turn-secret" || name == "--turn-secret-file") {
            const std::string* v = value();
            if (!v || v->empty()) {
                error = name + (name == "--turn-secret" ? " wants the secret" : " wants a file");
                return std::nullopt;
            }
            (name == "--turn-secret" ? options.turnSecret : options.turnSecretFile) = *v;
        } else if (name == "--trusted-proxy") {
            const std::string* v = value();
            const auto address = v ? TrustedProxies::canonical(*v) : std::nullopt;
            if (!address) {
                error = "--trusted-proxy wants an IP address";
                return std::nullopt;
            }
            options.trustedProxies.push_back(*address);
        } else if (const auto found = numbers.find(name); found != numbers.end()) {
            const NumberOption& option = found->second;
            const std::string* v = value();
            const unsigned long n = v && v->size() <= 9 ? std::strtoul(v->c_str(), nullptr, 10) : 0;
            if (!v || v->empty() || n < option.min || n > option.max
                || v->find_first_not_of("0123456789") != std::string::npos) {
                error
                    = name + " wants a number from " + std::to_string(option.min) + " to " + std::to_string(option.max);
                return std::nullopt;
            }
            options.*option.field = unsigned(n);
        } else {
            error = "unknown option " + name;
            return std::nullopt;
        }
    }
    if (options.tlsCertificate.empty() != options.tlsKey.empty()) {
        error = "--tls-cert and --tls-key go together: give both for HTTPS, or neither for HTTP";
        return std::nullopt;
    }
    if (!options.turnSecret.empty() && !options.turnSecretFile.empty()) {
        error = "--turn-secret and --turn-secret-file: give one of them";
        return std::nullopt;
    }
    if (options.turnUrls.empty() != (options.turnSecret.empty() && options.turnSecretFile.empty())) {
        error = "--turn-url and the relay's secret go together: give both, or neither";
        return std::nullopt;
    }
    if (options.database.empty())
        options.database = defaultDatabase();
    if (options.database.empty()) {
        error = "no --db given and neither XDG_DATA_HOME nor HOME is set";
        return std::nullopt;
    }
    return options;
}

} // namespace cfb::service
