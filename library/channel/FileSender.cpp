#include "channel/FileSender.h"

#include "channel/SodiumReady.h"

#include <QFileInfo>

#include <sodium.h>

#include <algorithm>

namespace cfb {

using namespace FileContent;

namespace {

std::optional<Sha256> hashFile(const QString& path, int64_t size)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    int64_t left = size;
    while (left > 0) {
        const qint64 got = file.read(chunk.data(), std::min<int64_t>(left, chunk.size()));
        if (got <= 0)
            return std::nullopt;
        crypto_hash_sha256_update(&state, reinterpret_cast<const uint8_t*>(chunk.constData()), uint64_t(got));
        left -= got;
    }
    Sha256 digest;
    crypto_hash_sha256_final(&state, digest.data());
    return digest;
}

} // namespace

FileSender::FileSender(uint32_t transfer, const QString& path, bool picture)
    : transfer_(transfer)
    , path_(path)
    , name_(safeName(QFileInfo(path).fileName()))
    , picture_(picture)
    , file_(path)
{
}

FileSender::~FileSender()
{
    if (hashing_.valid())
        hashing_.wait();
}

bool FileSender::start(int64_t nowUs, QString& error)
{
    const QFileInfo info(path_);
    if (!info.isFile() || !file_.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        error = QStringLiteral("%1 cannot be read.").arg(info.fileName());
        return false;
    }
    size_ = file_.size();
    const int64_t limit = picture_ ? MaxPictureBytes : MaxFileBytes;
    if (size_ > limit) {
        error = picture_ ? QStringLiteral("A picture can be at most 16 MB; send it as a file.")
                         : QStringLiteral("%1 is larger than 2 GB, the most that can be sent.").arg(info.fileName());
        return false;
    }
    count_ = packetCount(size_);
    acked_.assign(count_, 0);
    heardUs_ = progressUs_ = nowUs;
    sodiumReady();
    hashing_ = std::async(std::launch::async, hashFile, path_, size_);
    return true;
}

void FileSender::fail(const QString& why)
{
    if (finished())
        return;
    state_ = State::Failed;
    failure_ = why;
    file_.close();
}

int64_t FileSender::bytesAcknowledged() const
{
    if (ackedCount_ == count_)
        return size_;
    return int64_t(ackedCount_) * DataBytes;
}

void FileSender::sendOffer(int64_t nowUs, const Out& out)
{
    OfferFields fields;
    fields.transfer = transfer_;
    fields.size = size_;
    fields.sha256 = sha256_;
    fields.flags = picture_ ? Picture : 0;
    fields.name = name_;
    if (const std::optional<QByteArray> content = offer(fields))
        out(*content);
    offeredUs_ = nowUs;
}

void FileSender::tick(int64_t nowUs, const Out& out)
{
    switch (state_) {
    case State::Hashing: {
        if (hashing_.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            return;
        const std::optional<Sha256> digest = hashing_.get();
        if (!digest) {
            fail(QStringLiteral("%1 could not be read to the end.").arg(name_));
            return;
        }
        sha256_ = *digest;
        state_ = State::Offering;
        heardUs_ = nowUs;
        sendOffer(nowUs, out);
        return;
    }
    case State::Offering:
    case State::Asked:
    case State::Finishing: {
        if (nowUs - heardUs_ > SilenceUs) {
            fail(state_ == State::Offering ? QStringLiteral("The buddy's client did not answer.")
                                           : QStringLiteral("The buddy's client stopped answering."));
            return;
        }
        // Finishing: the offer asks the receiver to say again how the transfer ended.
        const int64_t retry = state_ == State::Asked ? AskedRetryUs
            : state_ == State::Finishing               ? window_.timeoutMs() * 1000
                                                       : OfferRetryUs;
        if (nowUs - offeredUs_ >= retry)
            sendOffer(nowUs, out);
        return;
    }
    case State::Sending:
        if (nowUs - heardUs_ > SilenceUs) {
            fail(QStringLiteral("The buddy's client stopped answering."));
            return;
        }
        if (live_ > 0 && nowUs - progressUs_ > window_.timeoutMs() * 1000) {
            // Nothing acknowledged for a whole time-out: all that is on its way is lost.
            for (Sent& sent : onTheWay_)
                if (sent.live)
                    retire(sent, true);
            std::sort(again_.begin(), again_.end());
            window_.onTimeout(nowUs);
            progressUs_ = nowUs;
        }
        sendPackets(nowUs, out);
        return;
    case State::Done:
    case State::Failed:
        return;
    }
}

void FileSender::onReply(Answer answer, int64_t nowUs, const Out& out)
{
    if (finished() || state_ == State::Hashing)
        return;
    heardUs_ = nowUs;
    switch (answer) {
    case Answer::Asked:
        if (state_ == State::Offering)
            state_ = State::Asked;
        return;
    case Answer::Accepted:
        if (state_ == State::Offering || state_ == State::Asked) {
            state_ = count_ == 0 ? State::Finishing : State::Sending;
            progressUs_ = pacedUs_ = nowUs;
            sendPackets(nowUs, out);
        }
        return;
    case Answer::Declined:
        fail(QStringLiteral("The buddy declined %1.").arg(name_));
        return;
    case Answer::Cancelled:
        fail(QStringLiteral("The buddy cancelled %1.").arg(name_));
        return;
    case Answer::Done:
        if (state_ == State::Finishing || state_ == State::Sending) {
            state_ = State::Done;
            ackedCount_ = count_;
            file_.close();
        }
        return;
    case Answer::Failed:
        fail(QStringLiteral("The buddy's client could not save %1.").arg(name_));
        return;
    }
}

bool FileSender::markAcked(uint32_t packet)
{
    if (packet >= nextNew_ || acked_[packet])
        return false;
    acked_[packet] = 1;
    ++ackedCount_;
    return true;
}

void FileSender::retire(Sent& sent, bool lost)
{
    sent.live = false;
    --live_;
    if (lost && !acked_[sent.packet])
        again_.push_back(sent.packet);
}

void FileSender::onAck(const AckFields& ack, int64_t nowUs, const Out& out)
{
    if (state_ != State::Sending && state_ != State::Finishing)
        return;
    heardUs_ = nowUs;
    int newly = 0;
    const uint32_t floor = std::min(ack.contiguous, nextNew_);
    for (; ackedFloor_ < floor; ++ackedFloor_)
        newly += markAcked(ackedFloor_) ? 1 : 0;
    for (const Range& range : ack.ranges)
        for (uint32_t p = std::max(range.first, ackedFloor_); p < std::min(range.end, nextNew_); ++p)
            newly += markAcked(p) ? 1 : 0;
    while (ackedFloor_ < nextNew_ && acked_[ackedFloor_])
        ++ackedFloor_;

    // The round trip, from the sending the receiver saw last.
    if (ack.newestSend >= firstSend_ && ack.newestSend < nextSend_) {
        Sent& newest = onTheWay_[ack.newestSend - firstSend_];
        if (newest.live && acked_[newest.packet])
            window_.onRttSample(nowUs - newest.atUs);
    }
    for (Sent& sent : onTheWay_)
        if (sent.live && acked_[sent.packet])
            retire(sent, false);
    if (newly > 0) {
        window_.onAcked(newly);
        progressUs_ = nowUs;
    }
    detectLosses(ack.newestSend, nowUs);
    while (!onTheWay_.empty() && !onTheWay_.front().live) {
        onTheWay_.pop_front();
        ++firstSend_;
    }
    if (ackedCount_ == count_) {
        if (state_ == State::Sending) {
            state_ = State::Finishing;
            offeredUs_ = nowUs;
        }
        return;
    }
    sendPackets(nowUs, out);
}

void FileSender::detectLosses(uint32_t newestSend, int64_t nowUs)
{
    // A sending is lost when three later ones arrived, or a later one did and an eighth of a
    // round trip more has passed (reordering on the path is not loss).
    const int64_t lateUs = window_.smoothedRttUs() * 9 / 8;
    for (uint32_t s = firstSend_; s < newestSend && s < nextSend_; ++s) {
        Sent& sent = onTheWay_[s - firstSend_];
        if (!sent.live)
            continue;
        if (newestSend - s >= 3 || nowUs - sent.atUs > lateUs) {
            window_.onLoss(sent.atUs, nowUs);
            retire(sent, true);
        }
    }
}

void FileSender::sendPackets(int64_t nowUs, const Out& out)
{
    if (state_ != State::Sending)
        return;
    tokens_ = std::min(MaxBurst, tokens_ + double(nowUs - pacedUs_) * window_.pacePerSecond() / 1e6);
    pacedUs_ = nowUs;
    while (live_ < int(window_.window()) && tokens_ >= 1) {
        while (!again_.empty() && acked_[again_.front()])
            again_.pop_front();
        uint32_t packet;
        if (!again_.empty())
            packet = again_.front();
        else if (nextNew_ < count_)
            packet = nextNew_;
        else
            return;
        if (!sendPacket(packet, nowUs, out))
            return; // the socket is full: the next tick tries again
        if (!again_.empty() && again_.front() == packet)
            again_.pop_front();
        else
            ++nextNew_;
        tokens_ -= 1;
        if (finished())
            return;
    }
}

bool FileSender::sendPacket(uint32_t packet, int64_t nowUs, const Out& out)
{
    const int64_t offset = int64_t(packet) * DataBytes;
    const qsizetype length = qsizetype(std::min<int64_t>(DataBytes, size_ - offset));
    if (buffer_.size() < DataBytes)
        buffer_.resize(DataBytes);
    if (!file_.seek(offset) || file_.read(buffer_.data(), length) != length) {
        fail(QStringLiteral("%1 could not be read to the end.").arg(name_));
        return false;
    }
    data(transfer_, packet, nextSend_, QByteArrayView(buffer_.constData(), length), content_);
    if (!out(content_))
        return false;
    onTheWay_.push_back({packet, nowUs, true});
    ++nextSend_;
    ++live_;
    ++sends_;
    return true;
}

void FileSender::cancel(const Out& out)
{
    if (finished())
        return;
    if (state_ != State::Hashing)
        for (int i = 0; i < 2; ++i)
            out(FileContent::cancel(transfer_));
    fail(QStringLiteral("Cancelled."));
}

} // namespace cfb
