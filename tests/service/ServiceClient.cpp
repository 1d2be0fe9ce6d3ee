#include "ServiceClient.h"

#include <QStringDecoder>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

pugi::xml_node nodeAt(const pugi::xml_document& document, const char* path)
{
    const pugi::xpath_node found = document.select_node(path);
    return found.node();
}

} // namespace

std::shared_ptr<pugi::xml_document> ServiceReply::document() const
{
    auto document = std::make_shared<pugi::xml_document>();
    QStringDecoder decoder("windows-1252");
    const QByteArray utf8 = QString(decoder(body)).toUtf8();
    if (!document->load_buffer(utf8.constData(), size_t(utf8.size()), pugi::parse_default, pugi::encoding_utf8))
        return nullptr;
    return document;
}

bool ServiceReply::parses() const
{
    const auto d = document();
    return d && d->document_element() && std::string_view(d->document_element().name()) == "body";
}

QString ServiceReply::text(const char* path) const
{
    const auto d = document();
    if (!d)
        return {};
    const pugi::xml_node node = nodeAt(*d, path);
    return node ? QString::fromUtf8(node.child_value()).trimmed() : QString();
}

bool ServiceReply::has(const char* path) const
{
    const auto d = document();
    return d && nodeAt(*d, path);
}

QStringList ServiceReply::list(const char* element, const char* child) const
{
    QStringList out;
    const auto d = document();
    if (!d)
        return out;
    for (const pugi::xpath_node& n : d->select_nodes((std::string("//") + element).c_str()))
        out << QString::fromUtf8(n.node().child(child).child_value());
    return out;
}

QByteArray ServiceReply::base64(const char* path) const
{
    return QByteArray::fromBase64(text(path).toLatin1());
}

ServiceClient::ServiceClient(quint16 port, QByteArray path)
    : port_(port)
    , path_(std::move(path))
{
}

QByteArray ServiceClient::request(const QByteArray& body, const QByteArray& contentType) const
{
    return "POST " + path_ + " HTTP/1.0\r\nHost: 127.0.0.1\r\nUser-Agent: http generic\r\nContent-type: " + contentType
        + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

ServiceReply ServiceClient::post(const QByteArray& body, const char* from) const
{
    return postWithType(body, "application/x-www-form-urlencoded", from);
}

ServiceReply ServiceClient::postWithType(const QByteArray& body, const QByteArray& contentType, const char* from) const
{
    return exchange(request(body, contentType), from);
}

int ServiceClient::connectFrom(const char* from) const
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    timeval timeout{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, from, &local.sin_addr);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port_);
    inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0
        || connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

ServiceReply ServiceClient::exchange(const QByteArray& request, const char* from, bool halfClose) const
{
    ServiceReply reply;
    const int fd = connectFrom(from);
    if (fd < 0)
        return reply;
    for (qsizetype sent = 0; sent < request.size();) {
        const ssize_t n = ::send(fd, request.constData() + sent, size_t(request.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            break; // the service may answer and close before it has read everything
        sent += n;
    }
    if (halfClose)
        shutdown(fd, SHUT_WR);
    QByteArray raw;
    char buffer[4096];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
        raw.append(buffer, n);
    close(fd);

    const qsizetype split = raw.indexOf("\r\n\r\n");
    if (!raw.startsWith("HTTP/1.") || split < 0)
        return reply;
    reply.status = raw.mid(9, 3).toInt();
    reply.headers = raw.left(split);
    reply.body = raw.mid(split + 4);
    return reply;
}

QByteArray formBody(std::initializer_list<std::pair<const char*, QString>> fields)
{
    QByteArray body;
    for (const auto& [name, value] : fields) {
        if (!body.isEmpty())
            body += '&';
        body += name;
        body += '=';
        QStringEncoder encoder("windows-1252");
        const QByteArray bytes = encoder(value);
        body += bytes.toPercentEncoding(QByteArray(), "*").replace("%20", "+");
    }
    return body;
}
