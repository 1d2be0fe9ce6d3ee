#pragma once

#include "messaging/XmlDocument.h"
#include "transport/vWinsock.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace cfb {

// The datagrams peers send each other: one XML document each, root "body", no declaration,
// Windows-1252 text.
//   message:     <body><from_handle/><email/><video_port/><message/></body>
//   frame chunk: <body><from_handle/><video_data dt:dt="bin.base64">…</video_data></body>
namespace PeerDatagram {

// A frame travels in chunks of this many bytes (before base64); a shorter chunk ends a frame.
inline constexpr qsizetype FrameChunkSize = 64535;
// The most an IPv4 UDP datagram carries.
inline constexpr qsizetype MaxDatagramSize = vWinsock::MAX_UDP_DATA;

QByteArray message(const QString& fromHandle, const QString& fromEmail, int16_t videoPort, const QString& text);

// Writes the datagram of one frame chunk into out, reusing its storage.
void frameChunk(const QByteArray& escapedFromHandle, QByteArrayView chunk, QByteArray& out);
// The sender's handle as frameChunk wants it: Windows-1252, markup escaped, a NUL as '?'.
QByteArray escapedText(const QString& text);
// Size of the datagram frameChunk writes for a chunk of chunkBytes.
qsizetype frameChunkSize(const QByteArray& escapedFromHandle, qsizetype chunkBytes);

// What an arriving datagram says. Nothing when it is not well-formed, has no from_handle, has
// a video_port that is not a 16-bit number, or a video_data element whose content is not base64:
// such datagrams are dropped whole.
struct Arrival {
    QString fromHandle;
    QString fromEmail;
    QString message;
    int16_t videoPort = 0;
    std::optional<QByteArray> videoData;
};
std::optional<Arrival> parse(XmlDocument& document, QByteArrayView datagram);

} // namespace PeerDatagram
} // namespace cfb
