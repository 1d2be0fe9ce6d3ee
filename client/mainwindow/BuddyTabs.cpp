#include "mainwindow/BuddyTabs.h"

#include "chat/ChatHistory.h"
#include "chat/cBuddyInfo.h"
#include "mainwindow/MainWindowLayout.h"
#include "messaging/Buddies.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "session/BuddyLookup.h"
#include "session/ClientSession.h"
#include "session/SecurityMark.h"

#include <QIcon>
#include <QPainter>
#include <QSignalBlocker>
#include <QTabBar>

namespace cfb::client {
namespace {

constexpr QSize IconSize = MainWindowLayout::BuddyIconSize;
constexpr int BadgeSize = 18;

// The avatar as a tab icon: kept whole, centred in the icon size.
QPixmap tabIcon(const QImage& avatar)
{
    QPixmap icon(IconSize);
    icon.fill(Qt::transparent);
    if (avatar.isNull())
        return icon;
    const QImage scaled = avatar.scaled(IconSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&icon);
    painter.drawImage((IconSize.width() - scaled.width()) / 2, (IconSize.height() - scaled.height()) / 2, scaled);
    return icon;
}

// The avatar's icon with the mark in its lower right corner.
QPixmap markedIcon(const QPixmap& avatar, SecurityMark::State state)
{
    const QPixmap badge = SecurityMark::badge(state, BadgeSize);
    if (badge.isNull())
        return avatar;
    QPixmap icon = avatar.isNull() ? QPixmap(IconSize) : avatar;
    if (avatar.isNull())
        icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.drawPixmap(IconSize.width() - BadgeSize, IconSize.height() - BadgeSize, badge);
    return icon;
}

// The icon of a buddy whose presence says lines do not reach them now: greyed.
QPixmap greyed(const QPixmap& icon)
{
    QImage grey = icon.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < grey.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(grey.scanLine(y));
        for (int x = 0; x < grey.width(); ++x) {
            const int level = 160 + qGray(row[x]) * 3 / 8; // light: it steps back
            row[x] = qRgba(level, level, level, qAlpha(row[x]));
        }
    }
    return QPixmap::fromImage(grey);
}

// The busy sign, a red disc with a white bar, in the icon's upper left corner.
QPixmap withBusySign(QPixmap icon)
{
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, 1.5));
    painter.setBrush(QColor(0xd0, 0x20, 0x20));
    painter.drawEllipse(QRectF(1, 1, BadgeSize - 2, BadgeSize - 2));
    painter.fillRect(QRectF(4.5, BadgeSize / 2.0 - 1.5, BadgeSize - 9, 3), Qt::white);
    return icon;
}

// The lines of a tab's tooltip that are there, one below the other.
QString toolTip(const QStringList& lines)
{
    QStringList present;
    for (const QString& line : lines)
        if (!line.isEmpty())
            present << line;
    return present.join(QLatin1Char('\n'));
}

const QColor ReceivedColour(0x00, 0x40, 0xc0);
const QColor AwayColour(0x80, 0x80, 0x80);

} // namespace

BuddyTabs::BuddyTabs(QTabBar& bar, ClientSession& session, QObject* parent)
    : QObject(parent)
    , bar_(bar)
    , session_(session)
    , history_(new ChatHistory(this))
{
    // A line the history holds is not shown again, whenever it comes again.
    session.setShownBefore([history = QPointer<ChatHistory>(history_)](const QString& handle, uint64_t id) {
        return history && history->hasReceived(handle, id);
    });
    connect(&session, &ClientSession::lineQueued, history_, [this](const QString&, uint64_t id) { history_->queued(id); });
    // Nothing the user wrote is lost to a crash: what never got its mark goes to the mailbox.
    connect(&session, &ClientSession::mailStarted, this, [this] {
        history_->sendPendingAgain([this](const cfb::HistoryLine& line) -> uint64_t {
            cfb::Confabo* library = session_.library();
            // With the id it went with before, so that the buddy knows it if it came already.
            return library
                ? library->QueueMail(line.buddy, line.text, line.wireId, QDateTime::fromMSecsSinceEpoch(line.timeMs))
                : 0;
        });
    });
    connect(&session, &ClientSession::lineDelivered, this,
        [this](const QString&, uint64_t id) { history_->resent(id, true); });
    connect(&session, &ClientSession::lineNotDelivered, this,
        [this](const QString&, uint64_t id) { history_->resent(id, false); });
    connect(&session, &ClientSession::lineRefused, this,
        [this](const QString&, uint64_t id, const QString&) { history_->resent(id, false); });
}

BuddyTabs::~BuddyTabs() = default;

cBuddyInfo* BuddyTabs::record(const QString& handle) const
{
    const auto found = records_.find(handle);
    return found == records_.end() ? nullptr : found->second.get();
}

cBuddyInfo* BuddyTabs::addRecord(const QString& handle)
{
    auto& record = records_[handle];
    record = std::make_unique<cBuddyInfo>(&session_);
    const auto kept = kept_.constFind(handle);
    const bool earlier = kept != kept_.constEnd();
    if (earlier) {
        record->transcript().restore(*kept);
        kept_.erase(kept);
    }
    history_->attach(handle, record->transcript(), !earlier);
    // The user wrote to them: the conversation stays open.
    connect(&record->transcript(), &ChatTranscript::lineAdded, this, [this, handle](const ChatTranscript::Line& line) {
        if (!line.notice && line.handle == session_.handle())
            open_.insert(handle);
    });
    return record.get();
}

bool BuddyTabs::clearHistory(const QString& handle)
{
    if (!history_->clear(handle))
        return false;
    kept_.remove(handle);
    if (cBuddyInfo* found = record(handle))
        found->transcript().clear();
    return true;
}

ChatTranscript* BuddyTabs::transcriptOf(const QString& handle)
{
    if (cBuddyInfo* found = record(handle))
        return &found->transcript();
    Confabo* library = session_.library();
    std::shared_ptr<cfb::Buddy> buddy = library ? library->Buddies()->Item(handle) : nullptr;
    if (!buddy)
        return nullptr;
    cBuddyInfo* made = addRecord(handle);
    made->setBuddy(std::move(buddy));
    return &made->transcript();
}

void BuddyTabs::forgetRecord(const QString& handle)
{
    const auto found = records_.find(handle);
    if (found == records_.end())
        return;
    if (!found->second->transcript().lines().isEmpty())
        kept_.insert(handle, found->second->transcript().lines());
    records_.erase(found);
}

bool BuddyTabs::hasTab(int status)
{
    return status == CFB_AVAILABLE || status == CFB_BUSY;
}

void BuddyTabs::setPresenceKnown(bool known)
{
    if (known == presenceKnown_)
        return;
    presenceKnown_ = known;
    for (int i = 0; i < bar_.count(); ++i)
        decorate(i);
}

void BuddyTabs::setUnread(const QString& handle, bool unread)
{
    if (unread == unread_.contains(handle))
        return;
    if (unread)
        unread_.insert(handle);
    else
        unread_.remove(handle);
    if (const int index = indexOf(handle); index >= 0)
        decorate(index);
}

void BuddyTabs::clear()
{
    {
        const QSignalBlocker block(bar_);
        while (bar_.count() > 0)
            bar_.removeTab(0);
    }
    icons_.clear();
    open_.clear();
    records_.clear();
    kept_.clear();
    unread_.clear();
    presenceKnown_ = true;
}

void BuddyTabs::addStranger(const QString& handle, std::function<void()> then)
{
    session_.ask<LookedUpUser>(
        "ShowBuddy", this, [handle](Confabo&) { return BuddyLookup::stranger(handle); },
        [this, handle, then](const LookedUpUser& user) {
            if (!record(handle))
                addRecord(handle)->setBuddy(BuddyLookup::strangerBuddy(user));
            then();
        });
}

QHash<QString, std::shared_ptr<cfb::Buddy>> BuddyTabs::strangers(const cfb::Buddies& buddies) const
{
    QHash<QString, std::shared_ptr<cfb::Buddy>> others;
    for (const auto& [handle, record] : records_)
        if (record->Buddy() && !buddies.Item(handle))
            others.insert(handle, record->Buddy());
    return others;
}

int BuddyTabs::indexOf(const QString& handle) const
{
    for (int i = 0; i < bar_.count(); ++i)
        if (handleAt(i) == handle)
            return i;
    return -1;
}

QString BuddyTabs::handleAt(int index) const
{
    return bar_.tabData(index).toString();
}

int BuddyTabs::count() const
{
    return bar_.count();
}

void BuddyTabs::add(const QString& handle, const std::shared_ptr<cfb::Buddy>& buddy)
{
    cBuddyInfo* shown = record(handle);
    if (!shown)
        shown = addRecord(handle);
    if (!shown->Buddy())
        shown->setBuddy(buddy);
    if (indexOf(handle) >= 0)
        return;
    const QSignalBlocker block(bar_);
    icons_.insert(handle, tabIcon(buddy->Avatar()));
    const int added = bar_.addTab(QIcon(icons_.value(handle)), handle);
    bar_.setTabData(added, handle);
    decorate(added);
}

void BuddyTabs::decorate(int index)
{
    const QString handle = handleAt(index);
    cBuddyInfo* shown = record(handle);
    if (!shown || !shown->Buddy())
        return;
    cfb::Buddy& user = *shown->Buddy();
    const SecurityMark::State state
        = session_.library() ? SecurityMark::of(*session_.library(), user) : SecurityMark::State::Encrypted;
    shown->setSecurity(state);
    const bool busy = user.Status() == CFB_BUSY;
    const bool offline = user.Status() == CFB_OFFLINE;
    QString presence;
    QPixmap icon = icons_.value(handle);
    if (!presenceKnown_) {
        presence = QStringLiteral("Presence unknown: the Confabo service cannot be reached.");
        icon = greyed(icon);
    } else if (busy) {
        presence = QStringLiteral("Busy: %1 gets no messages until available again.").arg(handle);
        icon = withBusySign(greyed(icon));
    } else if (offline) {
        presence = QStringLiteral("Offline: lines to %1 are delivered when they sign in.").arg(handle);
        icon = greyed(icon);
    }
    bar_.setTabIcon(index, QIcon(markedIcon(icon, state)));
    // Direct is the usual way and goes unsaid.
    const QString path = session_.library() && session_.library()->PathTo(handle) == QLatin1String("through the relay")
        ? QStringLiteral("Reached through the relay, which passes on what is already encrypted.")
        : QString();
    bar_.setTabToolTip(index, toolTip({user.Email(), presence, SecurityMark::explanation(state, handle), path}));
    bar_.setTabTextColor(index,
        unread_.contains(handle)      ? ReceivedColour
            : !presenceKnown_ || busy || offline ? AwayColour
                                      : QColor());
    bar_.setAccessibleTabName(index, presence.isEmpty() ? handle : handle + QStringLiteral(", ") + presence);
}

void BuddyTabs::remove(const QString& handle)
{
    const QSignalBlocker block(bar_);
    for (int index = indexOf(handle); index >= 0; index = indexOf(handle))
        bar_.removeTab(index);
    icons_.remove(handle);
    unread_.remove(handle);
    open_.remove(handle);
    forgetRecord(handle);
}

void BuddyTabs::follow(const cfb::Buddies& buddies)
{
    const QSignalBlocker block(bar_);
    for (const auto& buddy : buddies) {
        const QString key = buddy->handle();
        if (hasTab(buddy->Status()) || (open_.contains(key) && indexOf(key) >= 0)) {
            if (indexOf(key) < 0) {
                if (cBuddyInfo* known = record(key))
                    known->setBuddy(buddy);
                add(key, buddy);
            }
        } else if (indexOf(key) >= 0) {
            remove(key);
        }
    }
    for (int i = bar_.count() - 1; i >= 0; --i) {
        const QString key = handleAt(i);
        const cBuddyInfo* shown = record(key);
        if (!shown || !shown->Buddy() || !(hasTab(shown->Buddy()->Status()) || open_.contains(key)))
            remove(key);
    }
    // Icons go by key, never by position, so a tab cannot show another buddy's avatar.
    for (int i = 0; i < bar_.count(); ++i)
        decorate(i);
}

} // namespace cfb::client
