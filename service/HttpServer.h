#pragma once

#include "TlsCredentials.h"
#include "TrustedProxies.h"

#include <QByteArray>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct MHD_Daemon;
struct MHD_Connection;

namespace cfb::service {

struct HttpRequest {
    std::string method;
    std::string path;
    QByteArray contentType;
    QByteArray body;
    // Numeric address of the client: the connection's peer, or behind a trusted proxy the address
    // the proxy forwarded.
    std::string peerAddress;
};

struct HttpResponse {
    int status = 200;
    QByteArray body;
    const char* contentType = "text/xml; charset=windows-1252";
};

// An HTTP/1.0 and 1.1 server on libmicrohttpd, in clear or over TLS (GnuTLS): epoll (poll over
// TLS), a pool of worker threads that each run the handler for their own connections. Bodies are
// collected whole up to a limit; a larger body never reaches the handler and is answered with an
// empty 413. One address may hold only so many connections at once, and a request must arrive
// whole within a deadline, so a host that trickles bytes over many connections cannot lock the
// others out. Trusted proxies are exempt from that limit: their connections carry many clients'
// requests, and they shield the server from slow clients themselves.
class HttpServer {
public:
    // Answers the request; called exactly once, from any thread. A handler that hands the work to
    // another thread calls it later: the connection waits meanwhile without holding its worker.
    using Respond = std::function<void(HttpResponse)>;
    using Handler = std::function<void(const HttpRequest&, const Respond&)>;

    struct Config {
        std::string host = "127.0.0.1";
        uint16_t port = 8080; // 0: any free port
        unsigned threads = 0; // 0: one per core
        size_t maxBodyBytes = 256 * 1024;
        unsigned idleTimeoutSeconds = 15; // restarts with every byte received
        unsigned connectionsPerAddress = 32;
        // From the connection's start (or the end of its previous request) until the body is
        // complete; a request that takes longer loses its connection without an answer.
        unsigned requestTimeoutSeconds = 30;
        std::vector<std::string> trustedProxies; // whose X-Forwarded-For names the client
        // HTTPS with these (loaded, and outliving the server) instead of HTTP: each connection
        // presents the pair current when it was accepted.
        const TlsCredentials* tls = nullptr;
    };

    HttpServer(Config config, Handler handler);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds and starts accepting; on failure returns false with a reason.
    bool start(std::string& error);
    // Closes every connection; answers handed to other threads must have arrived before.
    void stop();
    uint16_t port() const { return port_; }

private:
    struct Callbacks; // the libmicrohttpd callbacks, which reach config_ and handler_
    friend struct Callbacks;

    // Whether another connection from this address may start; counted while they are open.
    bool mayConnect(const std::string& address);
    // Count and list a connection (its ConnectionState) while it is open.
    void connectionOpened(void* connectionState);
    void connectionClosed(void* connectionState);
    // Once a second, cuts off the connections whose request has been arriving for longer than
    // the deadline, headers included: libmicrohttpd sees only an idle timeout that every byte
    // restarts, and hands nothing over before the headers are complete.
    void sweepSlowRequests();

    Config config_;
    Handler handler_;
    TrustedProxies proxies_;
    std::mutex connectionsMutex_;
    std::unordered_map<std::string, unsigned> connectionsByAddress_;
    std::unordered_set<void*> openConnections_; // their ConnectionState, under connectionsMutex_
    std::thread sweeper_;
    std::condition_variable sweeperWake_;
    bool stopping_ = false;
    MHD_Daemon* daemon_ = nullptr;
    uint16_t port_ = 0;
    // Over TLS: the key that seals session tickets, with which a client that comes back resumes
    // its session instead of a full handshake (GnuTLS derives rotating keys from it).
    gnutls_datum_t ticketKey_{};
};

} // namespace cfb::service
