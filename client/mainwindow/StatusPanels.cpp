#include "mainwindow/StatusPanels.h"

#include "common/modMain.h"
#include "messaging/modINET.h"

#include <QLabel>
#include <QStatusBar>
#include <QSystemTrayIcon>

namespace cfb::client {
namespace {

const QString ConnectingNote = QStringLiteral("Connecting to the Confabo service...");
const QString UnreachableNote = QStringLiteral("Cannot reach the Confabo service; trying again...");

} // namespace

StatusPanels::StatusPanels(QStatusBar& bar)
    : bar_(bar)
{
    const QString tips[Count] = {QStringLiteral("Current User"), QStringLiteral("Confabo Status"), QString(),
        QStringLiteral("Video format and frame rate settings")};
    for (int i = 0; i < Count; ++i) {
        panels_[i] = new QLabel(&bar);
        panels_[i]->setObjectName(QStringLiteral("statusPanel%1").arg(i + 1));
        panels_[i]->setToolTip(tips[i]);
        panels_[i]->setFrameShape(QFrame::StyledPanel);
        panels_[i]->setFrameShadow(QFrame::Sunken);
        panels_[i]->setMinimumWidth(10);
        // As wide as their text: the room left is the reachability's at the bar's end.
        bar.addWidget(panels_[i]);
    }
    call_ = new QLabel(&bar);
    call_->setObjectName(QStringLiteral("statusCall"));
    call_->setFrameShape(QFrame::StyledPanel);
    call_->setFrameShadow(QFrame::Sunken);
    // Permanent: a note the bar shows for a while (reachability, a slow service) does not cover it.
    bar.addPermanentWidget(call_);
    call_->hide();
    bar.setSizeGripEnabled(false);
}

QString StatusPanels::text(int panel) const
{
    return panel >= 1 && panel <= Count ? panels_[panel - 1]->text() : QString();
}

QString StatusPanels::toolTip(int panel) const
{
    return panel >= 1 && panel <= Count ? panels_[panel - 1]->toolTip() : QString();
}

void StatusPanels::setText(int panel, const QString& text)
{
    if (panel >= 1 && panel <= Count)
        panels_[panel - 1]->setText(text);
}

void StatusPanels::showCall(const QString& text, const QString& toolTip)
{
    call_->setText(text);
    call_->setToolTip(toolTip);
    call_->setVisible(!text.isEmpty());
}

QString StatusPanels::callText() const
{
    return call_->isHidden() ? QString() : call_->text();
}

QString StatusPanels::callToolTip() const
{
    return call_->toolTip();
}

void StatusPanels::showServiceConnection()
{
    const ServiceChannel& channel = ServiceChannel::current();
    panels_[Handle - 1]->setToolTip(channel.encrypted()
            ? QStringLiteral("Signed in to the Confabo service at %1 over an encrypted connection (HTTPS)")
                  .arg(channel.server)
            : QStringLiteral("Signed in to the Confabo service at %1 over an unencrypted connection (HTTP)")
                  .arg(channel.server));
}

void StatusPanels::announceProblem(const QString& text, QSystemTrayIcon* tray)
{
    bar_.showMessage(text, 60000);
    if (tray && QSystemTrayIcon::supportsMessages())
        tray->showMessage(QString::fromLatin1(modMain::AppTitle), text, QSystemTrayIcon::Warning, 20000);
    modMain::ReportError(text, modMain::EventError, true);
}

void StatusPanels::showServiceSlow(bool slow)
{
    if (slow)
        bar_.showMessage(ConnectingNote);
    else if (bar_.currentMessage() == ConnectingNote)
        showServiceUnreachable(unreachable_);
}

void StatusPanels::showServiceUnreachable(bool unreachable)
{
    unreachable_ = unreachable;
    if (unreachable)
        bar_.showMessage(UnreachableNote);
    else if (bar_.currentMessage() == UnreachableNote || bar_.currentMessage() == ConnectingNote)
        bar_.clearMessage();
}

} // namespace cfb::client
