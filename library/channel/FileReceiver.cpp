#include "channel/FileReceiver.h"

#include "channel/SodiumReady.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>
#include <cstring>

#include <sys/stat.h>

namespace cfb {

using namespace FileContent;

namespace {

// The process's file-creation mask, read without changing it (umask() would, for a moment, for
// every thread); 022 where the kernel does not tell.
mode_t processUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine())
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return mode_t(mask & 0777);
            }
    return 022;
}

} // namespace

FileReceiver::FileReceiver(const OfferFields& offer, int64_t nowUs)
    : offer_(offer)
    , count_(packetCount(offer.size))
    , heardUs_(nowUs)
{
    offer_.name = safeName(offer.name);
}

FileReceiver::~FileReceiver()
{
    if (temp_)
        temp_->remove();
}

int64_t FileReceiver::bytesReceived() const
{
    // Only the last packet is short.
    return std::min<int64_t>(offer_.size, int64_t(receivedCount_) * DataBytes);
}

void FileReceiver::onOffer(int64_t nowUs, const Out& out)
{
    heardUs_ = nowUs;
    out(reply(offer_.transfer, answer_));
    if (state_ == State::Receiving)
        sendAck(out);
}

bool FileReceiver::accept(const QString& path, int64_t nowUs, const Out& out, QString& error)
{
    if (state_ != State::Asked) {
        error = QStringLiteral("The transfer has ended.");
        return false;
    }
    const QFileInfo target(path);
    const QString folder = target.absolutePath();
    if (!QFileInfo(folder).isDir()) {
        error = QStringLiteral("The folder %1 does not exist.").arg(folder);
        return false;
    }
    const QStorageInfo storage(folder);
    if (storage.isValid() && storage.bytesAvailable() >= 0 && storage.bytesAvailable() < offer_.size) {
        error = QStringLiteral("There is not enough room in %1 for %2.").arg(folder, offer_.name);
        return false;
    }
    auto temp = std::make_unique<QTemporaryFile>(folder + QStringLiteral("/.") + target.fileName() + QStringLiteral(".XXXXXX.part"));
    temp->setAutoRemove(false);
    if (!temp->open()) {
        error = QStringLiteral("%1 cannot be written: %2").arg(folder, temp->errorString());
        return false;
    }
    temp_ = std::move(temp);
    path_ = target.absoluteFilePath();
    received_.assign(count_, 0);
    sodiumReady();
    crypto_hash_sha256_init(&hash_);
    state_ = State::Receiving;
    answer_ = Answer::Accepted;
    heardUs_ = nowUs;
    out(reply(offer_.transfer, answer_));
    if (count_ == 0)
        finish(out);
    return true;
}

void FileReceiver::decline(const Out& out)
{
    if (state_ != State::Asked)
        return;
    fail(QStringLiteral("Declined."), Answer::Declined, out);
}

void FileReceiver::cancel(const Out& out)
{
    fail(QStringLiteral("Cancelled."), Answer::Cancelled, out);
}

void FileReceiver::onCancel()
{
    fail(QStringLiteral("The buddy cancelled %1.").arg(offer_.name), Answer::Cancelled, {});
}

void FileReceiver::fail(const QString& why, Answer answer, const Out& out)
{
    if (finished())
        return;
    state_ = State::Failed;
    failure_ = why;
    answer_ = answer;
    if (temp_) {
        temp_->remove();
        temp_.reset();
    }
    received_ = {};
    if (out)
        out(reply(offer_.transfer, answer_));
}

bool FileReceiver::hashFrom(uint32_t packet)
{
    const int64_t offset = int64_t(packet) * DataBytes;
    const qsizetype length = qsizetype(std::min<int64_t>(DataBytes, offer_.size - offset));
    if (buffer_.size() < DataBytes)
        buffer_.resize(DataBytes);
    if (!temp_->seek(offset) || temp_->read(buffer_.data(), length) != length)
        return false;
    crypto_hash_sha256_update(&hash_, reinterpret_cast<const uint8_t*>(buffer_.constData()), uint64_t(length));
    return true;
}

void FileReceiver::onData(const DataFields& data, int64_t nowUs, const Out& out)
{
    if (state_ == State::Asked)
        return; // nothing is written before the user says where
    if (finished()) {
        out(reply(offer_.transfer, answer_));
        return;
    }
    const int64_t offset = int64_t(data.packet) * DataBytes;
    if (data.packet >= count_ || data.bytes.size() != std::min<int64_t>(DataBytes, offer_.size - offset))
        return; // no such packet in this file
    heardUs_ = nowUs;
    newestSend_ = std::max(newestSend_, data.sendNumber);
    const bool inOrder = data.packet == contiguous_;
    if (!received_[data.packet]) {
        if (inOrder) {
            crypto_hash_sha256_update(&hash_, reinterpret_cast<const uint8_t*>(data.bytes.data()), uint64_t(data.bytes.size()));
        }
        if (!temp_->seek(offset) || temp_->write(data.bytes.data(), data.bytes.size()) != data.bytes.size()) {
            fail(QStringLiteral("%1 could not be written: %2").arg(path_, temp_->errorString()), Answer::Failed, out);
            return;
        }
        received_[data.packet] = 1;
        ++receivedCount_;
        highest_ = std::max(highest_, data.packet + 1);
        if (inOrder) {
            ++contiguous_;
            // Packets that came ahead of this one are on disk: read back and hashed in order.
            while (contiguous_ < count_ && received_[contiguous_]) {
                if (!hashFrom(contiguous_)) {
                    fail(QStringLiteral("%1 could not be read back.").arg(path_), Answer::Failed, out);
                    return;
                }
                ++contiguous_;
            }
        }
    }
    ++unacked_;
    if (firstUnackedUs_ < 0)
        firstUnackedUs_ = nowUs;
    if (contiguous_ == count_) {
        sendAck(out);
        finish(out);
        return;
    }
    if (!inOrder || unacked_ >= 2)
        sendAck(out);
}

void FileReceiver::sendAck(const Out& out)
{
    AckFields ack;
    ack.transfer = offer_.transfer;
    ack.contiguous = contiguous_;
    ack.newestSend = newestSend_;
    uint32_t p = contiguous_;
    while (p < highest_ && ack.ranges.size() < MaxAckRanges) {
        while (p < highest_ && !received_[p])
            ++p;
        if (p >= highest_)
            break;
        const uint32_t first = p;
        while (p < highest_ && received_[p])
            ++p;
        ack.ranges.append({first, p});
    }
    out(FileContent::ack(ack));
    unacked_ = 0;
    firstUnackedUs_ = -1;
}

void FileReceiver::finish(const Out& out)
{
    Sha256 digest;
    crypto_hash_sha256_final(&hash_, digest.data());
    if (digest != offer_.sha256) {
        fail(QStringLiteral("%1 arrived damaged (its SHA-256 does not match) and was not kept.").arg(offer_.name),
            Answer::Failed, out);
        return;
    }
    // The part file was the user's alone while it filled; the file kept gets the mode any new
    // file of theirs gets.
    ::fchmod(temp_->handle(), 0666 & ~processUmask());
    temp_->close();
    if (QFileInfo::exists(path_))
        QFile::remove(path_);
    if (!temp_->rename(path_)) {
        fail(QStringLiteral("%1 could not be saved: %2").arg(path_, temp_->errorString()), Answer::Failed, out);
        return;
    }
    temp_.reset();
    received_ = {};
    receivedCount_ = count_;
    state_ = State::Done;
    answer_ = Answer::Done;
    out(reply(offer_.transfer, answer_));
}

void FileReceiver::tick(int64_t nowUs, const Out& out)
{
    if (state_ == State::Asked && nowUs - heardUs_ > OfferGoneUs) {
        fail(QStringLiteral("The buddy withdrew %1.").arg(offer_.name), Answer::Cancelled, {});
        return;
    }
    if (state_ != State::Receiving)
        return;
    if (nowUs - heardUs_ > SilenceUs) {
        fail(QStringLiteral("The buddy's client stopped sending %1.").arg(offer_.name), Answer::Cancelled, out);
        return;
    }
    if (unacked_ > 0 && nowUs - firstUnackedUs_ >= AckDelayUs)
        sendAck(out);
}

} // namespace cfb
