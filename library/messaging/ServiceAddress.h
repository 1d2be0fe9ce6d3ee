#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace cfb {

// Where the service is, read from the service address setting: "host", "host:port",
// "http://host[:port]" or "https://host[:port]" (a trailing '/' is allowed). A bare host means
// plain HTTP, as it always has, so settings written before https existed keep their meaning. An
// IPv6 address takes brackets when it carries a port ("[::1]:8080"); a bare one may go without.
struct ServiceAddress {
    bool secure = false; // https: the certificate is checked, nothing goes in clear
    QString host; // an IPv6 address in brackets
    uint16_t port = 80;
    QString error; // why the text is no service address; empty when it is one

    static ServiceAddress parse(const QString& setting);
    bool isValid() const { return error.isEmpty(); }
    // "scheme://host:port/path", the path given a leading '/' when it lacks one.
    QByteArray url(const QString& scriptPath) const;
};

} // namespace cfb
