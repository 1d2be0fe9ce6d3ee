#include "HttpServer.h"

#include <gnutls/abstract.h>
#include <gnutls/gnutls.h>
#include <microhttpd.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace cfb::service {
namespace {

using Clock = std::chrono::steady_clock;

// Each connection's buffer for the request's headers, the body read so far (the body is handed on
// in pieces of at most this size) and the answer's headers. libmicrohttpd clears the whole buffer
// after every request on a kept-alive connection, so its default of 32 KiB cost more CPU than
// many a lookup; requests here carry a few hundred bytes of headers.
constexpr size_t ConnectionMemory = 8 * 1024;

// TLS 1.3 and 1.2 with forward-secret key exchange and AEAD ciphers only, as current clients
// (libcurl with OpenSSL 3, nginx's modern profile) speak. The server chooses: AES-128-GCM first,
// whose key schedule runs on SHA-256 (in nettle far cheaper per handshake than AES-256's SHA-384),
// and X25519 first, the group whose key share clients send (another would cost a HelloRetryRequest).
constexpr const char* TlsPriorities
    = "NORMAL:%SERVER_PRECEDENCE:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2:-CIPHER-ALL:+AES-128-GCM:+AES-256-GCM:"
      "+CHACHA20-POLY1305:-KX-ALL:+ECDHE-ECDSA:+ECDHE-RSA:-GROUP-ALL:+GROUP-X25519:+GROUP-SECP256R1:+GROUP-SECP384R1";

// What the server keeps per connection: when the request now arriving began (the connection's
// start, then the end of each request it carried), whether it is still arriving, the address it is
// counted under, and over TLS the certificate and key it presents, held until it closes. The
// sweeper reads the first two from another thread.
struct ConnectionState {
    std::atomic<Clock::rep> requestStarted{Clock::now().time_since_epoch().count()};
    std::atomic<bool> arriving{true};
    int fd = -1;
    std::string countedAddress; // empty: not counted (a trusted proxy)
    std::shared_ptr<const TlsCredentials::KeyPair> tlsKeys;

    Clock::time_point started() const { return Clock::time_point(Clock::duration(requestStarted.load())); }
};

// The answer to a request whose handler has run, which may come from another thread. The
// connection is suspended while it waits and resumed when the answer is there.
struct PendingAnswer {
    std::mutex mutex;
    MHD_Connection* connection = nullptr;
    std::optional<HttpResponse> response;
    bool suspended = false;
};

// One request in progress: its body so far, then its answer.
struct Exchange {
    QByteArray body;
    bool tooLarge = false;
    Clock::time_point deadline;
    std::shared_ptr<PendingAnswer> answer;
};

ConnectionState* stateOf(MHD_Connection* connection)
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? static_cast<ConnectionState*>(info->socket_context) : nullptr;
}

std::string numericAddress(const sockaddr* address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (!address)
        return {};
    if (address->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
    } else if (address->sa_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        if (IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr)) // an IPv4 client on a dual-stack socket
            inet_ntop(AF_INET, &v6->sin6_addr.s6_addr[12], text, sizeof text);
        else
            inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    }
    return text;
}

MHD_Result send(MHD_Connection* connection, const HttpResponse& response)
{
    MHD_Response* r = MHD_create_response_from_buffer(
        size_t(response.body.size()), const_cast<char*>(response.body.constData()), MHD_RESPMEM_MUST_COPY);
    if (!r)
        return MHD_NO;
    if (!response.body.isEmpty())
        MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, response.contentType);
    const MHD_Result result = MHD_queue_response(connection, unsigned(response.status), r);
    MHD_destroy_response(r);
    return result;
}

HttpResponse empty(int status)
{
    HttpResponse response;
    response.status = status;
    return response;
}

// A listening TCP socket on host:port (port 0 picks a free one); -1 with a reason on failure.
int listenOn(const std::string& host, uint16_t port, std::string& error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc = getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &found)) {
        error = "cannot resolve " + host + ": " + gai_strerror(rc);
        return -1;
    }
    int fd = -1;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 || listen(fd, SOMAXCONN) != 0) {
            error = "cannot listen on " + host + ":" + service + ": " + std::strerror(errno);
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    return fd;
}

uint16_t boundPort(int fd)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

} // namespace

struct HttpServer::Callbacks {
    static MHD_Result access(void* self, MHD_Connection* connection, const char* url, const char* method,
        const char* /*version*/, const char* uploadData, size_t* uploadSize, void** state)
    {
        auto& server = *static_cast<HttpServer*>(self);
        auto* exchange = static_cast<Exchange*>(*state);
        if (!exchange) {
            // Headers are in; the body, if any, follows in later calls. Requests that will be
            // refused whatever their body are answered now, and the body is not read.
            const ConnectionState* connectionState = stateOf(connection);
            const Clock::time_point deadline = (connectionState ? connectionState->started() : Clock::now())
                + std::chrono::seconds(server.config_.requestTimeoutSeconds);
            if (Clock::now() > deadline)
                return MHD_NO; // the headers alone took too long
            if (std::strcmp(method, MHD_HTTP_METHOD_POST) != 0)
                return send(connection, empty(MHD_HTTP_METHOD_NOT_ALLOWED));
            const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Length");
            if (length && std::strtoull(length, nullptr, 10) > server.config_.maxBodyBytes)
                return send(connection, empty(MHD_HTTP_CONTENT_TOO_LARGE));
            *state = new Exchange{{}, false, deadline, {}};
            return MHD_YES;
        }
        if (exchange->answer)
            return answered(connection, *exchange->answer); // resumed with the answer
        if (*uploadSize > 0) {
            if (Clock::now() > exchange->deadline)
                return MHD_NO; // a body trickling in for longer than any real client needs
            if (exchange->body.size() + *uploadSize > server.config_.maxBodyBytes)
                exchange->tooLarge = true;
            if (!exchange->tooLarge)
                exchange->body.append(uploadData, qsizetype(*uploadSize));
            *uploadSize = 0;
            return MHD_YES;
        }
        if (exchange->tooLarge)
            return send(connection, empty(MHD_HTTP_CONTENT_TOO_LARGE));

        if (ConnectionState* connectionState = stateOf(connection))
            connectionState->arriving = false; // whole: what follows is the handler's time
        HttpRequest request;
        request.method = method;
        request.path = url;
        request.contentType = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Type");
        request.body = std::move(exchange->body);
        const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
        request.peerAddress = server.proxies_.clientAddress(numericAddress(info ? info->client_addr : nullptr),
            MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "X-Forwarded-For"));

        auto answer = std::make_shared<PendingAnswer>();
        answer->connection = connection;
        exchange->answer = answer;
        const Respond respond = [answer](HttpResponse response) {
            std::lock_guard lock(answer->mutex);
            answer->response = std::move(response);
            if (answer->suspended)
                MHD_resume_connection(answer->connection);
        };
        try {
            server.handler_(request, respond);
        } catch (...) {
            // The handler reports its own failures; never a stack trace.
            std::lock_guard lock(answer->mutex);
            if (!answer->response)
                answer->response = empty(MHD_HTTP_OK);
        }
        return answered(connection, *answer);
    }

    // Sends the answer when it is there; otherwise parks the connection until it comes.
    static MHD_Result answered(MHD_Connection* connection, PendingAnswer& answer)
    {
        std::unique_lock lock(answer.mutex);
        if (!answer.response) {
            answer.suspended = true;
            MHD_suspend_connection(connection);
            return MHD_YES;
        }
        const HttpResponse response = std::move(*answer.response);
        lock.unlock();
        return send(connection, response);
    }

    static void completed(void*, MHD_Connection* connection, void** state, MHD_RequestTerminationCode)
    {
        delete static_cast<Exchange*>(*state);
        *state = nullptr;
        if (ConnectionState* connectionState = stateOf(connection)) { // a kept-alive connection's next request
            connectionState->requestStarted = Clock::now().time_since_epoch().count();
            connectionState->arriving = true;
        }
    }

    static MHD_Result accepting(void* self, const sockaddr* address, socklen_t)
    {
        return static_cast<HttpServer*>(self)->mayConnect(numericAddress(address)) ? MHD_YES : MHD_NO;
    }

    // GnuTLS asks during each handshake which certificate to present: the connection's own pair.
    static int presentCertificate(gnutls_session_t session, const gnutls_datum_t*, int, const gnutls_pk_algorithm_t*,
        int, gnutls_pcert_st** chain, unsigned* length, gnutls_privkey_t* key)
    {
        auto* connection = static_cast<MHD_Connection*>(gnutls_session_get_ptr(session));
        const ConnectionState* state = connection ? stateOf(connection) : nullptr;
        if (!state || !state->tlsKeys)
            return -1; // fails the handshake
        *chain = const_cast<gnutls_pcert_st*>(state->tlsKeys->chain.data());
        *length = unsigned(state->tlsKeys->chain.size());
        *key = state->tlsKeys->key;
        return 0;
    }

    static void connectionChanged(
        void* self, MHD_Connection* connection, void** socketContext, enum MHD_ConnectionNotificationCode code)
    {
        auto& server = *static_cast<HttpServer*>(self);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            auto* state = new ConnectionState;
            if (server.config_.tls) {
                state->tlsKeys = server.config_.tls->current();
                const MHD_ConnectionInfo* tls = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_GNUTLS_SESSION);
                if (tls && tls->tls_session)
                    gnutls_session_ticket_enable_server(
                        static_cast<gnutls_session_t>(tls->tls_session), &server.ticketKey_);
            }
            const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
            const std::string address = numericAddress(info ? info->client_addr : nullptr);
            const MHD_ConnectionInfo* socket = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
            state->fd = socket ? socket->connect_fd : -1;
            if (!server.proxies_.contains(address))
                state->countedAddress = address;
            server.connectionOpened(state);
            *socketContext = state;
        } else {
            auto* state = static_cast<ConnectionState*>(*socketContext);
            if (state)
                server.connectionClosed(state);
            delete state;
            *socketContext = nullptr;
        }
    }
};

HttpServer::HttpServer(Config config, Handler handler)
    : config_(std::move(config))
    , handler_(std::move(handler))
    , proxies_(config_.trustedProxies)
{
}

// Checked when a connection is accepted and counted once it has started, so two workers
// accepting at the same moment may let an address exceed its share by one connection each.
bool HttpServer::mayConnect(const std::string& address)
{
    if (proxies_.contains(address))
        return true;
    std::lock_guard lock(connectionsMutex_);
    const auto found = connectionsByAddress_.find(address);
    return found == connectionsByAddress_.end() || found->second < config_.connectionsPerAddress;
}

void HttpServer::connectionOpened(void* connectionState)
{
    const auto* state = static_cast<ConnectionState*>(connectionState);
    std::lock_guard lock(connectionsMutex_);
    openConnections_.insert(connectionState);
    if (!state->countedAddress.empty())
        ++connectionsByAddress_[state->countedAddress];
}

// libmicrohttpd tells of the end before it closes the socket, so once a connection is out of the
// set the sweeper never touches its descriptor again.
void HttpServer::connectionClosed(void* connectionState)
{
    const auto* state = static_cast<ConnectionState*>(connectionState);
    std::lock_guard lock(connectionsMutex_);
    openConnections_.erase(connectionState);
    const auto found = connectionsByAddress_.find(state->countedAddress);
    if (!state->countedAddress.empty() && found != connectionsByAddress_.end() && --found->second == 0)
        connectionsByAddress_.erase(found);
}

void HttpServer::sweepSlowRequests()
{
    const auto limit = std::chrono::seconds(config_.requestTimeoutSeconds);
    std::unique_lock lock(connectionsMutex_);
    while (!sweeperWake_.wait_for(lock, std::chrono::seconds(1), [this] { return stopping_; })) {
        const Clock::time_point now = Clock::now();
        for (void* open : openConnections_) {
            const auto* state = static_cast<ConnectionState*>(open);
            // Shutting the socket down (never closing it, which is the server's to do) makes the
            // worker that owns it see the end and drop the connection.
            if (state->arriving && state->fd >= 0 && now - state->started() > limit)
                ::shutdown(state->fd, SHUT_RDWR);
        }
    }
}

HttpServer::~HttpServer()
{
    stop();
    if (ticketKey_.data) {
        gnutls_memset(ticketKey_.data, 0, ticketKey_.size);
        gnutls_free(ticketKey_.data);
    }
}

bool HttpServer::start(std::string& error)
{
    const int fd = listenOn(config_.host, config_.port, error);
    if (fd < 0)
        return false;
    port_ = boundPort(fd);
    const unsigned threads = config_.threads ? config_.threads : std::max(1u, std::thread::hardware_concurrency());
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_TURBO | MHD_ALLOW_SUSPEND_RESUME;
    MHD_OptionItem tlsOptions[3] = {{MHD_OPTION_END, 0, nullptr}, {}, {}};
    if (config_.tls) {
        if (!ticketKey_.data && gnutls_session_ticket_key_generate(&ticketKey_) != 0) {
            close(fd);
            error = "no key for TLS session tickets";
            return false;
        }
        // poll() rather than epoll over TLS: libmicrohttpd's epoll loop keeps a connection whose
        // handshake waits for the client's next message marked ready, so its thread spins on
        // recv() until that message comes (a third of the connections per second under load).
        flags |= MHD_USE_TLS | MHD_USE_POLL;
        tlsOptions[0] = {MHD_OPTION_HTTPS_CERT_CALLBACK, 0, reinterpret_cast<void*>(&Callbacks::presentCertificate)};
        tlsOptions[1] = {MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>(TlsPriorities)};
        tlsOptions[2] = {MHD_OPTION_END, 0, nullptr};
    } else {
        flags |= MHD_USE_EPOLL;
    }
    daemon_ = MHD_start_daemon(flags, 0, &Callbacks::accepting, this, &Callbacks::access, this,
        MHD_OPTION_LISTEN_SOCKET, fd, MHD_OPTION_THREAD_POOL_SIZE, threads, MHD_OPTION_CONNECTION_TIMEOUT,
        config_.idleTimeoutSeconds, MHD_OPTION_NOTIFY_COMPLETED, &Callbacks::completed, this,
        MHD_OPTION_NOTIFY_CONNECTION, &Callbacks::connectionChanged, this, MHD_OPTION_CONNECTION_LIMIT, 10000u,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, ConnectionMemory, MHD_OPTION_ARRAY, tlsOptions, MHD_OPTION_END);
    if (!daemon_) {
        close(fd);
        error = config_.tls ? "the HTTPS server did not start" : "the HTTP server did not start";
        return false;
    }
    stopping_ = false;
    sweeper_ = std::thread([this] { sweepSlowRequests(); });
    return true;
}

void HttpServer::stop()
{
    if (sweeper_.joinable()) {
        {
            std::lock_guard lock(connectionsMutex_);
            stopping_ = true;
        }
        sweeperWake_.notify_all();
        sweeper_.join();
    }
    if (daemon_) {
        MHD_stop_daemon(daemon_);
        daemon_ = nullptr;
    }
}

} // namespace cfb::service
