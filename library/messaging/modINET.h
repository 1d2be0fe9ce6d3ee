#pragma once

#include "messaging/XmlDocument.h"
#include "platform/Settings.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdlib>

namespace cfb {

// Where service requests go and how long each may take. One set per thread: every Confabo
// object on a thread shares it. It starts with the settings' defaults; constructing a Confabo
// loads it from the settings store; the timeout properties change it without touching the store.
struct ServiceChannel {
    QString scriptPath = QString::fromLatin1(Settings::ServicePath.defaultValue);
    // host[:port] for plain HTTP (port 80 when none), or http:// or https:// with host[:port]
    // (port 443 for https); see ServiceAddress.
    QString server = QString::fromLatin1(Settings::ServiceHost.defaultValue);
    int32_t sendTimeout = std::atoi(Settings::SendTimeout.defaultValue); // milliseconds
    int32_t recvTimeout = std::atoi(Settings::ReceiveTimeout.defaultValue);
    int32_t connTimeout = std::atoi(Settings::ConnectTimeout.defaultValue);
    // A PEM file of private authorities trusted for https besides the system's; empty for none.
    QString caFile;

    // Why the last request got no reply at all (unreachable, refused, timed out, a certificate that
    // did not pass); empty when it got one. Lets a caller tell "the service said no" from "no
    // service".
    QString lastFailure;

    // Whether requests travel encrypted (an https:// server address).
    bool encrypted() const;

    // Requests this thread has posted (refused ones included): a caller tells whether a call asked
    // the service at all, or answered from what it knew.
    int64_t postedRequests = 0;

    // A thread that must never wait on the network (a user interface's) refuses requests: each
    // fails at once, as an unreachable service would, and is counted.
    bool refusesRequests = false;
    int64_t refusedRequests = 0;

    static ServiceChannel& current();
};

// The header every form request carries.
inline constexpr const char* FormHeader = "Content-type: application/x-www-form-urlencoded";

// Replies larger than this are refused (the request fails as if the service were unreachable).
inline constexpr qsizetype MaxReplyBytes = 8 * 1024 * 1024;

// Posts body with the one header line (which replaces any header of that name) to the service
// over HTTP/1.0, in clear or over TLS as the server address says, and returns the parsed reply.
// Over https the service's certificate must pass (trusted authority, name, dates); a refused one
// fails the request with the reason in lastFailure, and nothing is ever sent in clear instead.
// Blocks for at most connect + send + receive timeout. Never raises: a failed transfer or a reply
// that is not XML gives an empty document.
XmlDocument PostServiceRequest(const QByteArray& body, const QByteArray& header);

// Posts the picture as the multipart AVATAR_UPDATE form (its exact bytes are relied on by the
// service).
XmlDocument PostAvatarUpload(const QByteArray& pictureBytes, int32_t userID);
QByteArray AvatarUploadBody(const QByteArray& pictureBytes, int32_t userID);
inline constexpr const char* AvatarUploadHeader = "Content-type: multipart/form-data; boundary=7d1f5a80420";

QByteArray JoinByteArrays(const QByteArray& first, const QByteArray& second);

// application/x-www-form-urlencoded of the value's Windows-1252 bytes: letters, digits and
// "*-._" pass, space becomes '+', every other byte %XX in upper case.
QByteArray URLEncode(const QString& value);

} // namespace cfb
