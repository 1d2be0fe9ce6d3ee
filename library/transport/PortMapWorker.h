#pragma once

#include "transport/PortMapper.h"
#include "transport/Reachability.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

namespace cfb {

// The part of PortMapper that talks to the router, on PortMapper's own thread; every call blocks
// for as long as the router takes to answer (PortMapper::Options::discoveryMs at most per way).
class PortMapWorker : public QObject {
    Q_OBJECT

public:
    explicit PortMapWorker(const PortMapper::Options& options);
    ~PortMapWorker() override;

    void map(uint16_t port, bool enabled);
    // Removes the mapping made, if any.
    void unmap();

    // Safe from any thread. After stop, no new mapping stays: one the router grants meanwhile is
    // removed at once.
    void stop() { stopping_ = true; }
    bool holdsMapping() const { return holds_; }

signals:
    void reachabilityChanged(const cfb::Reachability& now);

private:
    struct Upnp; // the router found through UPnP, kept for renewals and the removal

    // Each gives the lease in seconds (0: no end) when the router now forwards the port here.
    std::optional<int> mapByUpnp(const QString& localAddress);
    std::optional<int> mapByNatPmp();
    // A NAT-PMP request for `port` with `lifetime` seconds (0 removes); the port the router
    // answered with and the lifetime it granted.
    std::optional<std::pair<uint16_t, uint32_t>> natPmpRequest(uint16_t port, uint32_t lifetime);
    void renew();
    void publish(Reachability now);

    PortMapper::Options options_;
    QTimer renewal_;
    uint16_t port_ = 0;
    bool enabled_ = false;
    std::unique_ptr<Upnp> upnp_; // set while UPnP holds the mapping
    bool natPmpMapped_ = false; // NAT-PMP holds the mapping
    std::atomic<bool> holds_ = false; // either holds one
    std::atomic<bool> stopping_ = false;
};

} // namespace cfb
