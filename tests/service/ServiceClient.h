#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <pugixml.hpp>

#include <memory>

// What came back for one request.
struct ServiceReply {
    int status = 0; // 0: no HTTP answer at all
    QByteArray headers;
    QByteArray body;

    bool empty() const { return body.isEmpty(); }
    // Parses the body as the clients do (Windows-1252 without a declaration).
    bool parses() const;
    // The text of the element at an absolute path ("/body/user_id"); empty when absent.
    QString text(const char* path) const;
    bool has(const char* path) const;
    // The text of `child` in every `element` of the document, in order.
    QStringList list(const char* element, const char* child) const;
    // The decoded bytes of the base64 element at the path (empty when it has none).
    QByteArray base64(const char* path) const;

private:
    std::shared_ptr<pugi::xml_document> document() const;
};

// A raw-socket HTTP client for the service under test, able to send from another loopback
// address (127.0.0.2) so tests can play a second machine.
class ServiceClient {
public:
    ServiceClient(quint16 port, QByteArray path = "/cfb_maint.asp");

    // A form POST over HTTP/1.0, one connection per request, as the library makes it.
    ServiceReply post(const QByteArray& body, const char* from = "127.0.0.1") const;
    ServiceReply postWithType(
        const QByteArray& body, const QByteArray& contentType, const char* from = "127.0.0.1") const;
    // Sends these exact bytes and reads until the service closes the connection. With halfClose
    // the sending side is shut after the bytes, as a client that gives up writing does.
    ServiceReply exchange(const QByteArray& request, const char* from = "127.0.0.1", bool halfClose = false) const;
    QByteArray request(const QByteArray& body, const QByteArray& contentType) const;
    // A raw connection from `from` to the service (its descriptor, the caller closes it), or -1.
    int connectFrom(const char* from = "127.0.0.1") const;

    quint16 port() const { return port_; }

private:
    quint16 port_;
    QByteArray path_;
};

// "a=1&b=2" from pairs, each value form-encoded as the library does it.
QByteArray formBody(std::initializer_list<std::pair<const char*, QString>> fields);
