#include "messaging/PeerDatagram.h"

#include "messaging/ConfaboError.h"
#include "messaging/TextNumbers.h"
#include "protocol/XmlText.h"

#include <algorithm>
#include <cstring>

namespace cfb::PeerDatagram {
namespace {

constexpr char FrameOpen[] = "<video_data";
constexpr qsizetype FrameHeadSize = qsizetype(sizeof FrameOpen - 1 + sizeof XmlText::Base64Attributes - 1 + 1);
constexpr char FrameTail[] = "</video_data></body>";

void appendElement(QByteArray& out, const char* name, const QString& text)
{
    out += '<';
    out += name;
    out += '>';
    out += escapedText(text);
    out += "</";
    out += name;
    out += '>';
}

} // namespace

QByteArray escapedText(const QString& text)
{
    return XmlText::escapedCp1252(text);
}

QByteArray message(const QString& fromHandle, const QString& fromEmail, int16_t videoPort, const QString& text)
{
    QByteArray out = "<body>";
    appendElement(out, "from_handle", fromHandle);
    appendElement(out, "email", fromEmail);
    appendElement(out, "video_port", QString::number(videoPort));
    appendElement(out, "message", text);
    out += "</body>";
    return out;
}

qsizetype frameChunkSize(const QByteArray& escapedFromHandle, qsizetype chunkBytes)
{
    const qsizetype base64 = (chunkBytes + 2) / 3 * 4;
    return qsizetype(sizeof "<body><from_handle></from_handle>" - 1) + escapedFromHandle.size() + FrameHeadSize + base64
        + qsizetype(sizeof FrameTail - 1);
}

void frameChunk(const QByteArray& escapedFromHandle, QByteArrayView chunk, QByteArray& out)
{
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const qsizetype total = frameChunkSize(escapedFromHandle, chunk.size());
    // Room for the largest datagram at once, so no later, bigger frame has to grow it: a stream
    // of frames allocates nothing after the first.
    if (out.capacity() < std::max(total, MaxDatagramSize))
        out.reserve(std::max(total, MaxDatagramSize));
    out.resize(total);
    char* p = out.data();
    const auto put = [&p](const char* s, qsizetype n) {
        std::memcpy(p, s, size_t(n));
        p += n;
    };
    put("<body><from_handle>", 19);
    put(escapedFromHandle.constData(), escapedFromHandle.size());
    put("</from_handle>", 14);
    put(FrameOpen, qsizetype(sizeof FrameOpen - 1));
    put(XmlText::Base64Attributes, qsizetype(sizeof XmlText::Base64Attributes - 1));
    put(">", 1);
    const auto* in = reinterpret_cast<const unsigned char*>(chunk.data());
    qsizetype i = 0;
    for (; i + 3 <= chunk.size(); i += 3) {
        const unsigned v = (unsigned(in[i]) << 16) | (unsigned(in[i + 1]) << 8) | in[i + 2];
        *p++ = alphabet[v >> 18];
        *p++ = alphabet[(v >> 12) & 63];
        *p++ = alphabet[(v >> 6) & 63];
        *p++ = alphabet[v & 63];
    }
    if (const qsizetype rest = chunk.size() - i) {
        const unsigned v = (unsigned(in[i]) << 16) | (rest == 2 ? unsigned(in[i + 1]) << 8 : 0u);
        *p++ = alphabet[v >> 18];
        *p++ = alphabet[(v >> 12) & 63];
        *p++ = rest == 2 ? alphabet[(v >> 6) & 63] : '=';
        *p++ = '=';
    }
    put(FrameTail, qsizetype(sizeof FrameTail - 1));
}

std::optional<Arrival> parse(XmlDocument& document, QByteArrayView datagram)
{
    if (!document.parse(datagram))
        return std::nullopt;
    const XmlElement from = document.selectSingle(QStringLiteral("/body/from_handle"));
    if (!from)
        return std::nullopt;
    Arrival arrival;
    arrival.fromHandle = from.text();
    arrival.fromEmail = document.selectSingle(QStringLiteral("/body/email")).text();
    arrival.message = document.selectSingle(QStringLiteral("/body/message")).text();
    if (const XmlElement port = document.selectSingle(QStringLiteral("/body/video_port"))) {
        try {
            arrival.videoPort = toInteger(port.text());
        } catch (const ConfaboError&) {
            return std::nullopt;
        }
    }
    if (const XmlElement video = document.selectSingle(QStringLiteral("/body/video_data"))) {
        arrival.videoData = video.typedValue();
        if (!arrival.videoData)
            return std::nullopt;
    }
    return arrival;
}

} // namespace cfb::PeerDatagram
