#pragma once

#include "transport/Reachability.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <cstdint>

namespace cfb {

class PortMapWorker;

// Asks the router to forward the data port (UDP, the same port outside) to this machine, first
// through UPnP IGD, then NAT-PMP; renews the mapping before its lease ends and removes it when
// destroyed. A port the router already forwards to another machine is left alone. Discovery
// blocks for seconds, so all of it runs on a thread of its own; results come back as
// reachabilityChanged on the owner's thread.
class PortMapper : public QObject {
    Q_OBJECT

public:
    struct Options {
        int discoveryMs = 2000; // how long each way waits for the router
        QString gateway; // the NAT-PMP router; empty: the default route's gateway
        QString localAddress; // this machine's address; empty: the default route's
    };

    explicit PortMapper(QObject* parent = nullptr);
    PortMapper(const Options& options, QObject* parent = nullptr);
    // Removes the mapping, waiting for the router's answer. A discovery still under way is not
    // waited for: it ends on its own thread and keeps nothing it gets.
    ~PortMapper() override;

    // Maps `port`, or, with enabled false, only finds out whether a router is in the way (and
    // removes a mapping made before). Calling again with another port moves the mapping.
    void map(uint16_t port, bool enabled = true);

    Reachability reachability() const { return reachability_; }

signals:
    void reachabilityChanged(const cfb::Reachability& now);

private:
    QThread* thread_ = nullptr; // outlives this object while a router is still being asked
    PortMapWorker* worker_ = nullptr; // lives on thread_
    Reachability reachability_;
};

} // namespace cfb
