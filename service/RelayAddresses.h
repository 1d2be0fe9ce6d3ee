#pragma once

#include <QHash>
#include <QString>

#include <cstdint>
#include <mutex>

namespace cfb::service {

// The relayed addresses that signed-in users hold at the TURN relay, which their buddies are told
// with the presence. Kept in memory only: an address lives as long as its allocation, minutes,
// and is forgotten when not renewed within MaxAgeSeconds or at the user's next sign-in.
class RelayAddresses {
public:
    static constexpr int64_t MaxAgeSeconds = 900;

    // An empty address forgets the user's.
    void set(int32_t userId, const QString& address, int64_t nowSeconds);
    QString of(int32_t userId, int64_t nowSeconds) const;
    // "a.b.c.d:port", nothing else.
    static bool wellFormed(const QString& address);

private:
    struct Entry {
        QString address;
        int64_t at = 0;
    };
    mutable std::mutex mutex_;
    QHash<int32_t, Entry> entries_;
};

} // namespace cfb::service
