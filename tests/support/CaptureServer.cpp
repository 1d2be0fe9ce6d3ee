#include "CaptureServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <stdexcept>

CaptureServer::CaptureServer()
{
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0
        || ::listen(listener_, 16) != 0)
        throw std::runtime_error("capture server cannot listen");
    socklen_t len = sizeof addr;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    replyWithXml("<body/>");
    thread_ = std::thread([this] { run(); });
}

CaptureServer::~CaptureServer()
{
    stopping_ = true;
    thread_.join();
    ::close(listener_);
}

QString CaptureServer::serverSetting() const
{
    return QStringLiteral("127.0.0.1:%1").arg(port_);
}

void CaptureServer::replyWithXml(const QByteArray& xml)
{
    replyRaw("HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " + QByteArray::number(xml.size())
        + "\r\n\r\n" + xml);
}

namespace {

QByteArray xmlResponse(const QByteArray& xml)
{
    return "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " + QByteArray::number(xml.size()) + "\r\n\r\n"
        + xml;
}

} // namespace

void CaptureServer::replyWithXmlFor(const QByteArray& mode, const QByteArray& xml)
{
    std::lock_guard lock(mutex_);
    responseFor_[mode] = xmlResponse(xml);
}

QList<QByteArray> CaptureServer::bodies() const
{
    QList<QByteArray> out;
    for (const QByteArray& r : requests())
        out.append(bodyOf(r));
    return out;
}

void CaptureServer::replyRaw(const QByteArray& responseBytes)
{
    std::lock_guard lock(mutex_);
    response_ = responseBytes;
    behaviour_ = Behaviour::Reply;
}

void CaptureServer::setBehaviour(Behaviour behaviour)
{
    std::lock_guard lock(mutex_);
    behaviour_ = behaviour;
}

QList<QByteArray> CaptureServer::requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

QByteArray CaptureServer::lastRequest() const
{
    std::lock_guard lock(mutex_);
    return requests_.isEmpty() ? QByteArray() : requests_.last();
}

QByteArray CaptureServer::lastBody() const
{
    return bodyOf(lastRequest());
}

int CaptureServer::requestCount() const
{
    std::lock_guard lock(mutex_);
    return int(requests_.size());
}

QByteArray CaptureServer::bodyOf(const QByteArray& request)
{
    const qsizetype end = request.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : request.mid(end + 4);
}

QByteArray CaptureServer::headerValue(const QByteArray& request, const QByteArray& name)
{
    const qsizetype end = request.indexOf("\r\n\r\n");
    const QList<QByteArray> lines = request.left(end).split('\n');
    for (QByteArray line : lines) {
        line = line.trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

void CaptureServer::run()
{
    while (!stopping_) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0)
            serve(client);
    }
}

void CaptureServer::serve(int client)
{
    // Read the head, then as many body bytes as Content-Length announces.
    QByteArray request;
    qsizetype expected = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!stopping_ && std::chrono::steady_clock::now() < deadline) {
        if (expected >= 0 && request.size() >= expected)
            break;
        pollfd p{client, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        char buf[4096];
        const ssize_t n = ::recv(client, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        request.append(buf, n);
        // Bytes that cannot start an HTTP request (a TLS greeting) are answered at once, as an
        // HTTP server answers them.
        if (!std::isalpha(static_cast<unsigned char>(request.front())))
            break;
        const qsizetype headEnd = request.indexOf("\r\n\r\n");
        if (expected < 0 && headEnd >= 0)
            expected = headEnd + 4 + headerValue(request, "Content-Length").toLongLong();
    }

    Behaviour behaviour;
    QByteArray response;
    {
        std::lock_guard lock(mutex_);
        requests_.append(request);
        behaviour = behaviour_;
        response = response_;
        const QByteArray body = bodyOf(request);
        if (body.startsWith("mode=")) {
            const qsizetype amp = body.indexOf('&');
            const QByteArray mode = body.mid(5, amp < 0 ? -1 : amp - 5);
            if (responseFor_.contains(mode))
                response = responseFor_.value(mode);
        }
    }
    if (behaviour == Behaviour::Reply) {
        qsizetype sent = 0;
        while (sent < response.size()) {
            const ssize_t n = ::send(client, response.constData() + sent, size_t(response.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
    } else if (behaviour == Behaviour::NeverAnswer) {
        while (!stopping_) {
            pollfd p{client, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) {
                char buf[256];
                if (::recv(client, buf, sizeof buf, 0) <= 0)
                    break;
            }
        }
    }
    ::close(client);
}
