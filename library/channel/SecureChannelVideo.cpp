// The channel's part in live video coded between Confabo clients: saying which codecs this client
// decodes, frames in video packets with their asks for packets again, receiver reports feeding the
// sender's rate, and key frames asked for after a loss that could not be repaired.
#include "channel/PeerSession.h"
#include "channel/SecureChannel.h"
#include "channel/VideoLink.h"

#include <QPointer>

#include <sodium.h>

#include <algorithm>

namespace cfb {

uint8_t SecureChannel::videoCodecs(const Key32& key, const QString& handle) const
{
    const Peer* peer = findPeer(key, handle);
    return peer ? videoOf(*peer).codecsNow(now()) : 0;
}

int SecureChannel::videoRateKbps(const Key32& key, const QString& handle) const
{
    const Peer* peer = findPeer(key, handle);
    return peer ? videoOf(*peer).rate.kbps() : VideoRate::StartKbps;
}

std::pair<int, double> SecureChannel::videoReceived(const Key32& key, const QString& handle) const
{
    const Peer* peer = findPeer(key, handle);
    if (!peer)
        return {0, 0.0};
    return {videoOf(*peer).rate.receivedKbps(), videoOf(*peer).rate.lossFraction()};
}

void SecureChannel::sendCodecs(Peer& peer, int64_t t)
{
    if (videoCodecs_ != 0)
        sendNow(peer, VideoContent::codecs(videoCodecs_), t);
}

bool SecureChannel::sendVideoFrame(const Key32& key, const QString& handle, const Endpoint& to, uint8_t codec,
    QByteArrayView encoded, bool keyFrame)
{
    using namespace VideoContent;
    if (!identity_ || encoded.isEmpty())
        return false;
    const qsizetype size = FrameHeader + encoded.size();
    const qsizetype count = (size + PacketBytes - 1) / PacketBytes;
    if (count > ChannelContent::MaxFramePackets)
        return false;
    Peer& peer = peerFor(key, handle);
    VideoLink& video = videoOf(peer);
    const int64_t t = now();
    PeerSession* session = sendingSession(peer, t);
    const Endpoint where = factsOf(peer).sendTo;
    if (!session || !where.isValid()) {
        keepAlive(key, handle, to); // a handshake, for the frames to come
        return false;
    }
    // The frame with its header, in storage kept from frame to frame.
    if (videoFrame_.capacity() < size)
        videoFrame_.reserve(std::max<qsizetype>(size, 65536));
    videoFrame_.resize(size);
    videoFrame_[0] = char(codec);
    videoFrame_[1] = char(keyFrame ? KeyFrame : 0);
    std::copy(encoded.begin(), encoded.end(), videoFrame_.begin() + FrameHeader);

    if (video.nextFrame == 0)
        video.nextFrame = randombytes_random() | 1;
    const uint32_t number = video.nextFrame++;
    video.outbox.keep(number, videoFrame_, uint16_t(count));
    video.rate.onSent(t);
    if (batch_.size() < size_t(count)) {
        batch_.resize(size_t(count));
        batchViews_.resize(size_t(count));
    }
    PacketFields fields;
    fields.frame.frame = number;
    fields.frame.count = uint16_t(count);
    fields.sentAt = uint32_t(t);
    for (qsizetype i = 0; i < count; ++i) {
        fields.frame.index = uint16_t(i);
        fields.frame.bytes = QByteArrayView(videoFrame_).sliced(i * PacketBytes, std::min(PacketBytes, size - i * PacketBytes));
        fields.sendNumber = video.nextSend++;
        packet(fields, chunk_);
        if (!session->seal(chunk_, batch_[size_t(i)], t))
            return false;
        batchViews_[size_t(i)] = batch_[size_t(i)];
    }
    bool sent = true;
    if (sendBatch_) {
        sent = sendBatch_(where, batchViews_.data(), int(count)) == int(count);
    } else {
        for (qsizetype i = 0; i < count; ++i)
            sent = send_(where, batchViews_[size_t(i)]) && sent;
    }
    if (session->wantsRekey(t))
        startHandshake(peer, t);
    return sent;
}

void SecureChannel::askKeyFrame(const Key32& key, const QString& handle)
{
    if (Peer* peer = const_cast<Peer*>(findPeer(key, handle)))
        askKeyFrame(*peer, now());
}

void SecureChannel::askKeyFrame(const QString& handle)
{
    const int64_t t = now();
    for (const auto& peer : std::as_const(peers_))
        if (factsOf(*peer).handle.compare(handle, Qt::CaseInsensitive) == 0 && videoOf(*peer).shownAny)
            askKeyFrame(*peer, t);
}

void SecureChannel::askKeyFrame(Peer& peer, int64_t t)
{
    VideoLink& video = videoOf(peer);
    if (video.keyAskedAt >= 0 && t - video.keyAskedAt < VideoLink::KeyFrameAskMs)
        return;
    video.keyAskedAt = t;
    static const char ask = char(VideoContent::KeyFrameAsk);
    sendNow(peer, QByteArrayView(&ask, 1), t);
}

void SecureChannel::reportVideo(Peer& peer, int64_t t)
{
    if (const auto report = videoOf(peer).arrivals.report(t))
        sendNow(peer, VideoContent::report(*report), t);
}

void SecureChannel::deliverVideo(const std::shared_ptr<Peer>& from, QByteArrayView content, int64_t t)
{
    using namespace VideoContent;
    Peer& peer = *from;
    VideoLink& video = videoOf(peer);
    switch (uint8_t(content[0])) {
    case Codecs:
        if (const auto codecs = readCodecs(content)) {
            video.codecs = *codecs;
            video.codecsAt = t;
        }
        return;
    case Packet: {
        const auto packet = readPacket(content);
        if (!packet)
            return;
        video.arrivals.onPacket(packet->sendNumber, packet->sentAt, content.size(), packet->frame.index == 0, t);
        video.inbox.add(packet->frame, t);
        takeVideoFrames(from, t);
        return;
    }
    case Nack: {
        const auto asked = readNack(content);
        if (!asked)
            return;
        PacketFields fields;
        fields.frame.frame = asked->frame;
        fields.sentAt = uint32_t(t);
        for (const uint16_t index : asked->packets) {
            uint16_t count = 0;
            if (const auto bytes = video.outbox.resend(asked->frame, index, count)) {
                fields.frame.index = index;
                fields.frame.count = count;
                fields.frame.bytes = *bytes;
                for (int copy = 0; copy < 2; ++copy) {
                    fields.sendNumber = video.nextSend++;
                    packet(fields, chunk_);
                    sendNow(peer, chunk_, t);
                }
            }
        }
        return;
    }
    case Report:
        if (const auto report = readReport(content))
            video.rate.onReport(*report, t);
        return;
    case KeyFrameAsk: {
        const QString handle = factsOf(peer).handle;
        emit keyFrameAsked(handle);
        return;
    }
    default:
        return;
    }
}

void SecureChannel::takeVideoFrames(const std::shared_ptr<Peer>& from, int64_t t)
{
    Peer& peer = *from;
    VideoLink& video = videoOf(peer);
    QList<QByteArray> ready;
    QList<ChannelContent::NackFields> nacks;
    QList<uint32_t> numbers;
    video.inbox.poll(t, ready, nacks, &numbers);
    // As for frames: the ask goes twice, and what it asks for comes twice.
    for (const ChannelContent::NackFields& nack : nacks) {
        const QByteArray content = VideoContent::nack(nack);
        sendNow(peer, content, t);
        sendNow(peer, content, t);
    }
    if (video.inbox.pending() && !frameTimer_.isActive())
        frameTimer_.start();
    const PeerFacts facts = factsOf(peer);
    QPointer<SecureChannel> self(this);
    for (qsizetype i = 0; i < ready.size(); ++i) {
        const QByteArray& frame = ready[i];
        const uint32_t number = numbers[i];
        const bool gap = video.shownAny && number != video.lastShown + 1;
        video.shownAny = true;
        video.lastShown = number;
        if (frame.size() <= VideoContent::FrameHeader)
            continue;
        const bool key = uint8_t(frame[1]) & VideoContent::KeyFrame;
        if (gap && !key)
            askKeyFrame(peer, t);
        emit videoFrameArrived(facts.handle, facts.trusted, frame, gap);
        if (!self)
            return;
    }
}

} // namespace cfb
