#pragma once

#include <QString>

#include <cstdint>

namespace cfb::service {

class Storage;

// The relayed addresses that signed-in users hold at the TURN relay, which their buddies are told
// with the presence. Kept in the service's database, so every service process in front of it
// answers the same and a restart forgets none; an address lives as long as its allocation,
// minutes, and is forgotten when not renewed within MaxAgeSeconds or at the user's next sign-in.
class RelayAddresses {
public:
    static constexpr int64_t MaxAgeSeconds = 900;

    explicit RelayAddresses(Storage& storage)
        : storage_(storage)
    {
    }

    // An empty address forgets the user's.
    void set(int32_t userId, const QString& address, int64_t nowSeconds);
    QString of(int32_t userId, int64_t nowSeconds) const;
    // "a.b.c.d:port" (the port in plain digits, 1 to 65535), nothing else.
    static bool wellFormed(const QString& address);

private:
    Storage& storage_;
};

} // namespace cfb::service
