#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class QStatusBar;

namespace cfb {
class PortMapper;
struct Reachability;
} // namespace cfb

namespace cfb::client {

class ClientSession;
class ReachabilityLabel;

// How buddies reach this client, in the main window's status bar: asks the router to forward the
// data port (unless "Map Data Port" is "0") and says "Direct", "Router mapped port N" or "Behind
// a router (...)". Also writes to the event log when datagrams naming a buddy came from
// somewhere else.
class ReachabilityStatus : public QObject {
    Q_OBJECT

public:
    // Replaces the one `owner` has, if any: after a sign-in opened the session, and after the
    // data port moved.
    static ReachabilityStatus* attach(QStatusBar& bar, ClientSession& session, QObject* owner);

    ReachabilityStatus(QStatusBar& bar, ClientSession& session, QObject* parent);
    ~ReachabilityStatus() override;

    // The whole text (the label may show it shortened).
    QString text() const;

private:
    void show(const cfb::Reachability& now);

    QPointer<QStatusBar> bar_;
    QPointer<ReachabilityLabel> label_;
    std::unique_ptr<cfb::PortMapper> mapper_;
};

} // namespace cfb::client
