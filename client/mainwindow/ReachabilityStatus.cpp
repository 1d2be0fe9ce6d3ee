#include "mainwindow/ReachabilityStatus.h"

#include "common/EventLog.h"
#include "messaging/Confabo.h"
#include "platform/Settings.h"
#include "session/ClientSession.h"
#include "transport/PortMapper.h"
#include "transport/ivUDP.h"

#include <QLabel>
#include <QStatusBar>

namespace cfb::client {

ReachabilityStatus* ReachabilityStatus::attach(QStatusBar& bar, ClientSession& session, QObject* owner)
{
    delete owner->findChild<ReachabilityStatus*>(QString(), Qt::FindDirectChildrenOnly);
    return new ReachabilityStatus(bar, session, owner);
}

ReachabilityStatus::ReachabilityStatus(QStatusBar& bar, ClientSession& session, QObject* parent)
    : QObject(parent)
    , label_(new QLabel(&bar))
{
    label_->setObjectName(QStringLiteral("statusReachability"));
    label_->setToolTip(QStringLiteral("How buddies reach you"));
    bar.addPermanentWidget(label_);

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
        mapper_.get(), &PortMapper::reachabilityChanged, this, [this](const Reachability& now) { show(now.text()); });
    mapper_->map(uint16_t(socket->LocalPort().toInt()), Settings::MapDataPort.read().trimmed() != QLatin1String("0"));
}

ReachabilityStatus::~ReachabilityStatus()
{
    delete label_.data();
}

QString ReachabilityStatus::text() const
{
    return text_;
}

// The window is narrow and the other panels must stay readable: the label takes at most a third
// of the bar, ending in "..." where the text is longer; the whole text is its tooltip.
void ReachabilityStatus::show(const QString& text)
{
    text_ = text;
    if (!label_)
        return;
    const int room = qMax(60, label_->parentWidget()->width() / 3);
    label_->setText(label_->fontMetrics().elidedText(text, Qt::ElideRight, room));
    label_->setToolTip(QStringLiteral("How buddies reach you: %1").arg(text));
}

} // namespace cfb::client
