#include "common/HelpWindow.h"

#include "common/HelpContexts.h"
#include "common/UserDialogs.h"
#include "resources/ClientResources.h"

#include <QAction>
#include <QPointer>
#include <QTextBrowser>
#include <QToolBar>
#include <QVBoxLayout>

namespace cfb::client {
namespace {

QPointer<HelpWindow> theWindow;

} // namespace

QUrl HelpWindow::topicUrl(int context)
{
    switch (context) {
    case HelpContext::InvitationsSent:
        return QUrl(QStringLiteral("qrc:/help/invitations-sent.html"));
    case HelpContext::InviteUsers:
        return QUrl(QStringLiteral("qrc:/help/invite-users.html"));
    default:
        return QUrl(QStringLiteral("qrc:/help/index.html"));
    }
}

HelpWindow* HelpWindow::current()
{
    return theWindow;
}

HelpWindow* HelpWindow::showTopic(int context, QWidget* owner)
{
    loadClientResources();
    if (!theWindow)
        theWindow = new HelpWindow(owner);
    theWindow->browser_->setSource(topicUrl(context));
    theWindow->showNormal();
    theWindow->raise();
    theWindow->activateWindow();
    return theWindow;
}

HelpWindow::HelpWindow(QWidget* owner)
    : QWidget(owner, Qt::Window)
    , browser_(new QTextBrowser(this))
{
    setObjectName(QStringLiteral("HelpWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Confabo Help"));
    resize(640, 520);

    auto* bar = new QToolBar(this);
    QAction* back = bar->addAction(tr("&Back"), browser_, &QTextBrowser::backward);
    QAction* forward = bar->addAction(tr("&Forward"), browser_, &QTextBrowser::forward);
    bar->addAction(tr("&Contents"), this, [this] { browser_->setSource(topicUrl(0)); });
    back->setEnabled(false);
    forward->setEnabled(false);
    connect(browser_, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);

    // Pages of the help stay in the window; any other link goes to the desktop's program for it.
    browser_->setOpenLinks(false);
    connect(browser_, &QTextBrowser::anchorClicked, this, &HelpWindow::openLink);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(bar);
    layout->addWidget(browser_);
}

void HelpWindow::openLink(const QUrl& url)
{
    if (url.scheme() == QLatin1String("qrc") || url.isRelative())
        browser_->setSource(url.isRelative() ? browser_->source().resolved(url) : url);
    else
        UserDialogs::current().openUrl(url);
}

} // namespace cfb::client
