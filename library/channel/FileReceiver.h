#pragma once

#include "channel/FileContent.h"

#include <QString>
#include <QTemporaryFile>

#include <sodium.h>

#include <functional>
#include <memory>
#include <vector>

namespace cfb {

// One file coming from a buddy: nothing is written before the user accepts it; then its packets
// go to a temporary file beside the chosen name (one without a name at all where the file system
// allows, so nothing is left behind if the program ends first), the SHA-256 is worked out as the file fills from
// its start, and the file takes its name only when the whole matches the offer's SHA-256.
class FileReceiver {
public:
    enum class State { Asked, Receiving, Done, Failed };
    using Out = std::function<bool(QByteArrayView content)>;

    // An offer not repeated for this long was given up by its sender; a transfer that brings
    // nothing for this long has stopped.
    static constexpr int64_t OfferGoneUs = 30000000;
    static constexpr int64_t SilenceUs = 30000000;
    // Acknowledgements: one every second packet, at once for one out of order, else this soon.
    static constexpr int64_t AckDelayUs = 5000;

    FileReceiver(const FileContent::OfferFields& offer, int64_t nowUs);
    ~FileReceiver();

    const FileContent::OfferFields& offer() const { return offer_; }
    State state() const { return state_; }
    bool finished() const { return state_ == State::Done || state_ == State::Failed; }
    const QString& failure() const { return failure_; }
    const QString& path() const { return path_; }
    int64_t bytesReceived() const;
    FileContent::Answer answer() const { return answer_; }

    // The offer came again (its sender is still there, or asks how it ended).
    void onOffer(int64_t nowUs, const Out& out);
    // Opens the temporary file beside path; false, with error, when it cannot.
    bool accept(const QString& path, int64_t nowUs, const Out& out, QString& error);
    void decline(const Out& out);
    void cancel(const Out& out);
    // The sender cancelled.
    void onCancel();
    void onData(const FileContent::DataFields& data, int64_t nowUs, const Out& out);
    void tick(int64_t nowUs, const Out& out);

private:
    void finish(const Out& out);
    void fail(const QString& why, FileContent::Answer answer, const Out& out);
    void sendAck(const Out& out);
    bool hashFrom(uint32_t packet);

    FileContent::OfferFields offer_;
    uint32_t count_ = 0;
    State state_ = State::Asked;
    FileContent::Answer answer_ = FileContent::Answer::Asked;
    QString failure_;
    QString path_;
    std::unique_ptr<QTemporaryFile> temp_;
    std::vector<uint8_t> received_;
    uint32_t receivedCount_ = 0;
    uint32_t contiguous_ = 0; // every packet below is here, and hashed
    uint32_t highest_ = 0; // one past the highest packet here
    uint32_t newestSend_ = 0;
    int unacked_ = 0;
    int64_t firstUnackedUs_ = -1;
    int64_t heardUs_ = 0;
    crypto_hash_sha256_state hash_ {};
    QByteArray buffer_;
};

} // namespace cfb
