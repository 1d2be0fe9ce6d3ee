#include "buddies/frmInvite.h"

#include "common/HelpContexts.h"
#include "ui_frmInvite.h"

#include "buddies/UserDetails.h"
#include "common/BusyCursor.h"
#include "common/LocalErrorHandler.h"
#include "common/TrimSpaces.h"
#include "common/UserDialogs.h"
#include "messaging/Buddies.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "platform/Settings.h"
#include "session/BuddyLookup.h"
#include "session/ClientSession.h"

#include <QUrl>

namespace cfb::client {
namespace {

const QString Title = QStringLiteral("Confabo - Invite Users");

} // namespace

QString frmInvite::invitationLink(const QString& downloadUrl)
{
    QString address = downloadUrl;
    address.replace(QLatin1Char('%'), QLatin1String("%25"))
        .replace(QLatin1Char('&'), QLatin1String("%26"))
        .replace(QLatin1Char('#'), QLatin1String("%23"));
    return QStringLiteral("mailto:?subject=Check Out Confabo!&body=")
        + QStringLiteral("Hello!,%0D%0DA friend has invited you to try Confabo, a free, peer-to-peer chat and video "
                         "messaging program.%0D%0DGo to ")
        + address
        + QStringLiteral(" and get your free copy to start  'vid-chatting' with your friends.%0D%0D%0DPeace,%0D%0DThe "
                         "Confabo Team%0D%0D")
        + QString(72, QLatin1Char('-')) + QStringLiteral("%0D");
}

frmInvite::frmInvite(ClientSession& session, QWidget* owner)
    : QDialog(owner)
    , ui(std::make_unique<Ui::frmInvite>())
    , session_(session)
    , library_(session.library())
{
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    connect(ui->lstUsers, &QListWidget::currentRowChanged, this, [this](int) { lstUsers_Click(); });
    connect(ui->cmdRefresh, &QPushButton::clicked, this, &frmInvite::cmdRefresh_Click);
    connect(ui->cmdInvite, &QPushButton::clicked, this, &frmInvite::cmdInvite_Click);
    connect(ui->cmbEmail, &QPushButton::clicked, this, &frmInvite::cmbEmail_Click);
    connect(ui->cmdClose, &QPushButton::clicked, this, &QDialog::reject);
    session_.setCurrentWindow(this);
    cmdRefresh_Click();
}

frmInvite::~frmInvite() = default;

void frmInvite::done(int result)
{
    users_.reset();
    library_ = nullptr;
    session_.setCurrentWindow(nullptr);
    QDialog::done(result);
}

void frmInvite::showBox(const QString& text)
{
    UserDialogs::current().messageBox(this, text, UserDialogs::Buttons::Ok, UserDialogs::Icon::Information, Title);
}

void frmInvite::cmdRefresh_Click()
{
    session_.askFrom<std::shared_ptr<Buddies>>(
        "Refresh List", this,
        [](Confabo& service) {
            // Plain rows: the objects cross to this thread, and look nothing up here.
            const std::shared_ptr<Buddies> found = service.AvailableUsers();
            if (!found)
                return found;
            auto rows = std::make_shared<Buddies>();
            for (const auto& user : *found)
                rows->Add(0, user->BuddyUserID(), user->handle(), user->Email(), user->handle())->setLooksUp(false);
            return rows;
        },
        [this](std::shared_ptr<Buddies> users) {
            withErrorReport("Refresh List", [&] { showUsers(std::move(users)); });
            emit refreshed();
        });
}

void frmInvite::showUsers(std::shared_ptr<Buddies> users)
{
    users_ = std::move(users);
    {
        const QSignalBlocker block(ui->lstUsers);
        ui->lstUsers->clear();
        if (users_)
            for (const auto& user : *users_)
                UserDetails::addEntry(ui->lstUsers, user->handle(), user->BuddyUserID());
    }
    if (ui->lstUsers->count() > 0) {
        {
            const QSignalBlocker block(ui->lstUsers);
            ui->lstUsers->setCurrentRow(0);
        }
        lstUsers_Click();
    } else {
        showBox(QStringLiteral("There are no other users online at this time."));
    }
}

void frmInvite::lstUsers_Click()
{
    withErrorReport("User Details", [this] {
        const QListWidgetItem* entry = ui->lstUsers->currentItem();
        if (!entry || !users_)
            return;
        const std::shared_ptr<Buddy> user = users_->Item(entry->text());
        if (!user)
            return;
        UserDetails::show(session_, ui->lstUsers, *user, ui->lblHandle, ui->lblEmail, ui->imgBuddy);
    });
}

void frmInvite::cmdInvite_Click()
{
    withErrorReport("Invite", [this] { invite(); });
}

void frmInvite::invite()
{
    if (trimSpaces(ui->txtMessage->text()).isEmpty()) {
        UserDialogs::current().beep();
        showBox(QStringLiteral("An invitation message is required."));
        ui->txtMessage->setFocus();
        return;
    }
    QList<QListWidgetItem*> checked;
    for (int i = ui->lstUsers->count() - 1; i >= 0; --i)
        if (ui->lstUsers->item(i)->checkState() == Qt::Checked)
            checked.append(ui->lstUsers->item(i));
    if (checked.isEmpty()) {
        UserDialogs::current().beep();
        showBox(QStringLiteral("Select users from the list that you want to invite for 'vid-chatting'."));
        ui->lstUsers->setFocus();
        return;
    }

    // From the last checked entry to the first; a failed send is not reported.
    // Each user is looked up on the service thread; the invitations leave from the data port.
    QStringList handles;
    for (const QListWidgetItem* entry : checked)
        handles.append(entry->text());
    session_.askFrom<QList<LookedUpUser>>(
        "Invite", this,
        [handles](Confabo&) {
            QList<LookedUpUser> found;
            for (const QString& handle : handles)
                found.append(BuddyLookup::stranger(handle));
            return found;
        },
        [this](const QList<LookedUpUser>& users) { withErrorReport("Invite", [&] { sendInvitations(users); }); });
}

void frmInvite::sendInvitations(const QList<LookedUpUser>& users)
{
    if (!session_.library())
        return;
    for (const LookedUpUser& user : users)
        session_.sendMessage(*BuddyLookup::strangerBuddy(user), ui->txtMessage->text());
    UserDialogs::current().messageBoxWithHelp(this,
        QStringLiteral("Your invitation(s) have been sent. If your invitation is accepted, a new Buddy Tab")
            + QStringLiteral(" will be created for that user."),
        UserDialogs::Buttons::Ok, UserDialogs::Icon::Information, Title, HelpContext::InvitationsSent);
    accept();
}

void frmInvite::cmbEmail_Click()
{
    const QUrl link(invitationLink(Settings::DownloadUrl.read()), QUrl::TolerantMode);
    if (!UserDialogs::current().openUrl(link))
        UserDialogs::current().messageBox(this,
            QStringLiteral("Error opening email client. Make sure that you have your email client correctly installed "
                           "and configured"),
            UserDialogs::Buttons::Ok, UserDialogs::Icon::Critical, Title);
}

} // namespace cfb::client
