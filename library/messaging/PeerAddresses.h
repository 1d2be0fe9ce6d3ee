#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>

namespace cfb {

// The IPv4 addresses behind the address texts the service gives for buddies: a dotted address
// is its own answer; a host name is looked up in the background (never blocking the caller) and
// its answer kept for a minute. Lives on the thread of its owner.
class PeerAddresses : public QObject {
    Q_OBJECT

public:
    explicit PeerAddresses(QObject* parent = nullptr);

    // The addresses (network byte order) the text stands for; nullopt while a host name is being
    // looked up (the look-up starts on the first call) and empty when it names nothing.
    std::optional<QList<uint32_t>> resolve(const QString& text);

    // How long a host name's answer is kept.
    static constexpr int KeepMs = 60000;

private:
    struct Entry {
        QList<uint32_t> addresses;
        bool known = false; // an answer came
        bool looking = false; // a look-up runs
        int64_t expires = 0; // monotonic ms
    };
    QHash<QString, Entry> names_;
};

} // namespace cfb
