#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>

namespace cfb {

class Buddies;
class PeerAddresses;

// Whether a datagram naming a buddy as its sender really comes from that buddy: it must come from
// the address last looked up for the buddy, or from one of this machine's own addresses (the
// kernel drops datagrams from outside that claim one, so only programs here send them: users who
// share the machine reach each other at whichever of its addresses). Datagrams naming anyone
// else (strangers) pass; so do those naming a buddy whose address was never looked up, as there
// is nothing to hold them against. A buddy known by a host name is checked against the name's addresses, looked up in
// the background; until they are known its datagrams are dropped. Nothing here blocks or asks
// the service.
class SenderCheck : public QObject {
    Q_OBJECT

public:
    explicit SenderCheck(PeerAddresses& addresses, QObject* parent = nullptr);

    // senderAddress in network byte order.
    bool accepts(Buddies& buddies, const QString& fromHandle, uint32_t senderAddress);

    static constexpr int ReportEveryMs = 60000;

    // Counts a datagram dropped elsewhere as forged, reported with the others.
    void countForged();

signals:
    // How many datagrams were dropped since the last report; at most one report a minute.
    void dropped(int count);

private:
    bool fromThisMachine(uint32_t senderAddress);
    void report();

    PeerAddresses& addresses_;
    QTimer reportTimer_;
    int pending_ = 0;
    int64_t lastReport_ = 0; // monotonic ms; 0 before the first
    QList<uint32_t> ownAddresses_; // network byte order
    int64_t ownAddressesRead_ = 0; // monotonic ms; 0 before the first
};

} // namespace cfb
