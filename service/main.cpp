// confabo-service: the HTTP endpoint that every account, presence and buddy operation of the
// Confabo clients posts to.

#include "AddressRateLimiter.h"
#include "GroupCommit.h"
#include "HashingPool.h"
#include "HttpServer.h"
#include "PasswordHasher.h"
#include "PostgresStorage.h"
#include "PresenceLookups.h"
#include "ServiceOperations.h"
#include "ServiceOptions.h"
#include "SqliteStorage.h"
#include "TlsCredentials.h"
#include "TurnCredentials.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <pthread.h>
#include <sys/stat.h>

using namespace cfb::service;

namespace {

// On SIGHUP: the renewed certificate and key for every new connection, or the old pair kept.
void reloadCertificate(TlsCredentials* tls)
{
    std::string error;
    if (!tls)
        std::printf("SIGHUP: no TLS certificate to reload (serving HTTP)\n");
    else if (tls->reload(error))
        std::printf("reloaded the TLS certificate: %s\n", tls->current()->description.c_str());
    else
        std::printf("kept the previous TLS certificate: %s\n", error.c_str());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    std::string error;
    const auto options = ServiceOptions::parse(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "confabo-service: %s\n%s", error.c_str(), ServiceOptions::usage());
        return 2;
    }
    if (options->help) {
        std::fputs(ServiceOptions::usage(), stdout);
        return 0;
    }

    // SIGINT and SIGTERM (stop) and SIGHUP (reload the certificate) are taken by sigwait below;
    // every thread started from here on inherits the mask, so none of them is interrupted.
    sigset_t handledSignals;
    sigemptyset(&handledSignals);
    sigaddset(&handledSignals, SIGINT);
    sigaddset(&handledSignals, SIGTERM);
    sigaddset(&handledSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &handledSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        std::unique_ptr<TlsCredentials> tls;
        if (!options->tlsCertificate.empty()) {
            tls = std::make_unique<TlsCredentials>(options->tlsCertificate, options->tlsKey);
            if (!tls->reload(error)) {
                std::fprintf(stderr, "confabo-service: cannot serve HTTPS: %s\n", error.c_str());
                return 1;
            }
            std::printf("serving HTTPS with the certificate %s\n", tls->current()->description.c_str());
        }
        std::unique_ptr<TurnCredentials> turn;
        if (!options->turnUrls.empty()) {
            std::optional<QByteArray> secret;
            if (!options->turnSecretFile.empty())
                secret = TurnCredentials::readSecretFile(options->turnSecretFile, error);
            else
                secret = QByteArray::fromStdString(options->turnSecret);
            if (!secret) {
                std::fprintf(stderr, "confabo-service: %s\n", error.c_str());
                return 1;
            }
            QStringList urls;
            for (const std::string& url : options->turnUrls)
                urls.append(QString::fromStdString(url));
            turn = std::make_unique<TurnCredentials>(urls, *secret, options->turnLifetimeSeconds);
            // Where the relay is and for how long its credentials last; never the secret.
            std::printf("handing out relay credentials for %s, good for %u s\n", urls.join(QLatin1Char(' ')).toUtf8().constData(),
                options->turnLifetimeSeconds);
        }
        std::unique_ptr<Storage> storage;
        if (PostgresStorage::handles(options->database)) {
            storage = std::make_unique<PostgresStorage>(options->database);
        } else {
            const std::filesystem::path database(options->database);
            if (database.has_parent_path())
                std::filesystem::create_directories(database.parent_path());
            // The database holds every account: the files this service makes are its owner's
            // alone, and the default place (which the service made) is mended where an earlier
            // version left it readable.
            ::umask(077);
            if (options->database == ServiceOptions::defaultDatabase()) {
                ::chmod(database.parent_path().c_str(), 0700);
                for (const char* suffix : {"", "-wal", "-shm"})
                    ::chmod((options->database + suffix).c_str(), 0600);
            }
            storage = std::make_unique<SqliteStorage>(options->database);
        }
        const PasswordHasher hasher;
        HashingPool hashing({options->hashThreads, options->hashQueue});
        AddressRateLimiter hashLimiter({options->signInBurst, options->signInRate});
        AddressRateLimiter mailLimiter({options->mailRate, options->mailRate});
        GroupCommit commits(*storage, GroupCommit::Config{});
        std::optional<PresenceLookups> lookups;
        if (storage->gathersLookups())
            lookups.emplace(*storage, PresenceLookups::Config{});
        ServiceOperations operations(*storage, hasher, hashing, commits, lookups ? &*lookups : nullptr, hashLimiter,
            mailLimiter, options->path, !options->quiet);
        operations.setTurnCredentials(turn.get());

        HttpServer::Config config;
        config.host = options->host;
        config.port = options->port;
        config.threads = options->threads;
        config.connectionsPerAddress = options->connectionsPerAddress;
        config.requestTimeoutSeconds = options->requestTimeoutSeconds;
        config.trustedProxies = options->trustedProxies;
        config.tls = tls.get();
        HttpServer server(config, [&](const HttpRequest& request, const HttpServer::Respond& respond) {
            operations.handle(request, respond);
        });
        if (!server.start(error)) {
            std::fprintf(stderr, "confabo-service: %s\n", error.c_str());
            return 1;
        }
        const bool bracket = options->host.find(':') != std::string::npos;
        std::printf("listening on %s%s%s:%u\n", bracket ? "[" : "", options->host.c_str(), bracket ? "]" : "",
            unsigned(server.port()));
        std::fflush(stdout);

        int signal = 0;
        while (sigwait(&handledSignals, &signal) == 0 && signal == SIGHUP)
            reloadCertificate(tls.get());
        if (!options->quiet)
            std::fprintf(stderr, "confabo-service: stopping on signal %d\n", signal);
        // Answers the sign-ins and changes still queued, so no connection is left waiting.
        hashing.finish();
        commits.finish();
        if (lookups)
            lookups->finish();
        server.stop(); // finishes the requests in progress
    } catch (const std::exception& e) {
        std::fprintf(stderr, "confabo-service: %s\n", e.what());
        return 1;
    }
    return 0;
}
