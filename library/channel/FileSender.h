#pragma once

#include "channel/CongestionWindow.h"
#include "channel/FileContent.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <deque>
#include <functional>
#include <future>
#include <optional>
#include <vector>

namespace cfb {

// One file on its way to a buddy: its SHA-256 worked out off the caller's thread, the offer sent
// until the buddy answers, then the packets, as many on their way as the congestion window
// allows and paced over the round trip; what the acknowledgements leave out is sent again.
class FileSender {
public:
    enum class State { Hashing, Offering, Asked, Sending, Finishing, Done, Failed };
    using Out = std::function<bool(QByteArrayView content)>;

    // Offers go again this often until answered, and a little while after the buddy's "asked".
    static constexpr int64_t OfferRetryUs = 1000000;
    static constexpr int64_t AskedRetryUs = 5000000;
    // Nothing heard from the buddy for this long ends the transfer.
    static constexpr int64_t SilenceUs = 30000000;
    static constexpr double MaxBurst = 16;

    FileSender(uint32_t transfer, const QString& path, bool picture);
    ~FileSender();

    // Opens the file and starts its hash; false, with error, when it cannot be sent.
    bool start(int64_t nowUs, QString& error);

    void tick(int64_t nowUs, const Out& out);
    void onReply(FileContent::Answer answer, int64_t nowUs, const Out& out);
    void onAck(const FileContent::AckFields& ack, int64_t nowUs, const Out& out);
    // Tells the buddy (the caller's user stopped it) and ends here.
    void cancel(const Out& out);

    State state() const { return state_; }
    bool finished() const { return state_ == State::Done || state_ == State::Failed; }
    bool sending() const { return state_ == State::Sending; }
    const QString& failure() const { return failure_; }
    const QString& name() const { return name_; }
    const QString& path() const { return path_; }
    int64_t size() const { return size_; }
    int64_t bytesAcknowledged() const;
    const FileContent::Sha256& sha256() const { return sha256_; }
    const CongestionWindow& window() const { return window_; }
    int64_t packetsSent() const { return sends_; }

private:
    struct Sent {
        uint32_t packet = 0;
        int64_t atUs = 0;
        bool live = true;
    };

    void fail(const QString& why);
    void sendOffer(int64_t nowUs, const Out& out);
    void sendPackets(int64_t nowUs, const Out& out);
    bool sendPacket(uint32_t packet, int64_t nowUs, const Out& out);
    bool markAcked(uint32_t packet);
    void detectLosses(uint32_t newestSend, int64_t nowUs);
    void retire(Sent& sent, bool lost);

    uint32_t transfer_;
    QString path_;
    QString name_;
    bool picture_;
    QFile file_;
    int64_t size_ = 0;
    uint32_t count_ = 0;
    FileContent::Sha256 sha256_ {};
    std::future<std::optional<FileContent::Sha256>> hashing_;
    State state_ = State::Hashing;
    QString failure_;

    int64_t offeredUs_ = 0;
    int64_t heardUs_ = 0;
    int64_t progressUs_ = 0; // when an acknowledgement last took packets off the way
    CongestionWindow window_;
    double tokens_ = MaxBurst;
    int64_t pacedUs_ = 0;
    std::vector<uint8_t> acked_;
    uint32_t ackedCount_ = 0;
    uint32_t ackedFloor_ = 0; // every packet below is acknowledged
    uint32_t nextNew_ = 0;
    std::deque<uint32_t> again_; // packets to send again, oldest loss first
    std::deque<Sent> onTheWay_; // by send number, from firstSend_ on
    uint32_t firstSend_ = 1;
    uint32_t nextSend_ = 1;
    int live_ = 0;
    int64_t sends_ = 0;
    QByteArray buffer_;
    QByteArray content_;
};

} // namespace cfb
