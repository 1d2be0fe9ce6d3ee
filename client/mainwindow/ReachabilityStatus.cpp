#include "mainwindow/ReachabilityStatus.h"

#include "common/EventLog.h"
#include "mainwindow/ReachabilityLabel.h"
#include "messaging/Confabo.h"
#include "platform/Settings.h"
#include "session/ClientSession.h"
#include "transport/PortMapper.h"
#include "transport/ivUDP.h"

#include <QStatusBar>

namespace cfb::client {
namespace {

constexpr int AnnouncementMs = 10000;
constexpr int MessageMargins = 18; // where the bar draws a message: 6 pixels in, 12 before the end

} // namespace

ReachabilityStatus* ReachabilityStatus::attach(QStatusBar& bar, ClientSession& session, QObject* owner)
{
    delete owner->findChild<ReachabilityStatus*>(QString(), Qt::FindDirectChildrenOnly);
    return new ReachabilityStatus(bar, session, owner);
}

ReachabilityStatus::ReachabilityStatus(QStatusBar& bar, ClientSession& session, QObject* parent)
    : QObject(parent)
    , bar_(&bar)
    , label_(new ReachabilityLabel(&bar))
{
    label_->setObjectName(QStringLiteral("statusReachability"));
    // The panels keep the width their text needs; this takes what is left. A message in the bar
    // hides the panels and would be covered by this label as it grew: it steps aside meanwhile.
    bar.addPermanentWidget(label_, 1);
    label_->setVisible(bar.currentMessage().isEmpty());
    connect(&bar, &QStatusBar::messageChanged, label_,
        [label = label_.data()](const QString& message) { label->setVisible(message.isEmpty()); });

    Confabo* confabo = session.library();
    if (!confabo)
        return;
    connect(confabo, &Confabo::ForgedSendersDropped, this, [](int count) {
        EventLog::write(QStringLiteral("Dropped %1 datagram(s) that named a buddy but did not come from that "
                                       "buddy's address")
                            .arg(count),
            EventLog::Warning);
    });
    // Nothing arrives on a port that is not bound, so there is nothing to map.
    const ivUDP* socket = confabo->wsReceive();
    if (confabo->blocksAllData() || !socket || socket->State() != sckUDPListening)
        return;
    mapper_ = std::make_unique<PortMapper>();
    connect(
        mapper_.get(), &PortMapper::reachabilityChanged, this, [this](const Reachability& now) { show(now); });
    mapper_->map(uint16_t(socket->LocalPort().toInt()), Settings::MapDataPort.read().trimmed() != QLatin1String("0"));
}

ReachabilityStatus::~ReachabilityStatus()
{
    delete label_.data();
}

QString ReachabilityStatus::text() const
{
    return label_ ? label_->text() : QString();
}

// The label at the bar's end has room for little more than its dot, so a change is also said in
// full across the bar for a while, unless the bar is saying something else already.
void ReachabilityStatus::show(const Reachability& now)
{
    if (!label_)
        return;
    label_->setReachability(now);
    if (bar_ && bar_->currentMessage().isEmpty()) {
        const int room = bar_->width() - MessageMargins;
        bar_->showMessage(bar_->fontMetrics().elidedText(now.text(), Qt::ElideRight, room), AnnouncementMs);
    }
}

} // namespace cfb::client
