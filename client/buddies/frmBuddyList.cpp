#include "buddies/frmBuddyList.h"

#include "ui_frmBuddyList.h"

#include "buddies/UserDetails.h"
#include "buddies/VerifyDialog.h"
#include "buddies/frmBlockList.h"
#include "common/BusyCursor.h"
#include "common/LocalErrorHandler.h"
#include "common/ServiceFailure.h"
#include "common/TrimSpaces.h"
#include "common/UserDialogs.h"
#include "messaging/Buddies.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "session/AskEach.h"
#include "session/BuddyLookup.h"
#include "session/ClientSession.h"

#include <QKeyEvent>

namespace cfb::client {
namespace {

const QString Title = QStringLiteral("Edit Buddy List");

} // namespace

frmBuddyList::frmBuddyList(ClientSession& session, QWidget* owner)
    : QDialog(owner)
    , ui(std::make_unique<Ui::frmBuddyList>())
    , session_(session)
    , library_(session.library())
{
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    ui->txtEmail->installEventFilter(this);
    connect(ui->lstBuddies, &QListWidget::currentRowChanged, this, [this](int) { lstBuddies_Click(); });
    connect(ui->cmdAdd, &QPushButton::clicked, this, &frmBuddyList::cmdAdd_Click);
    connect(ui->cmdRemove, &QPushButton::clicked, this, &frmBuddyList::cmdRemove_Click);
    connect(ui->cmdBlockList, &QPushButton::clicked, this, &frmBuddyList::cmdBlockList_Click);
    connect(ui->cmdVerify, &QPushButton::clicked, this, &frmBuddyList::cmdVerify_Click);
    connect(ui->cmdMessage, &QPushButton::clicked, this, &frmBuddyList::cmdMessage_Click);
    connect(ui->cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    session_.setCurrentWindow(this);
    withErrorReport("Edit Buddy List", [this] { load(); });
}

frmBuddyList::~frmBuddyList() = default;

void frmBuddyList::done(int result)
{
    library_ = nullptr;
    session_.setCurrentWindow(nullptr);
    QDialog::done(result);
}

bool frmBuddyList::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->txtEmail && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            cmdAdd_Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmBuddyList::load()
{
    {
        const QSignalBlocker block(ui->lstBuddies);
        for (const auto& buddy : *library_->Buddies())
            UserDetails::addEntry(ui->lstBuddies, buddy->handle(), buddy->BuddyID());
    }
    showBlockListButton();
    selectEntry(ui->lstBuddies->item(0)); // none: the details stay empty
}

// Makes the entry current and shows its buddy; with no entry left the details are cleared.
void frmBuddyList::selectEntry(QListWidgetItem* entry)
{
    ui->cmdVerify->setEnabled(entry != nullptr);
    ui->cmdMessage->setEnabled(entry != nullptr);
    if (!entry) {
        ui->lblHandle->clear();
        ui->lblEmail->clear();
        ui->imgBuddy->clear();
        return;
    }
    {
        const QSignalBlocker block(ui->lstBuddies);
        ui->lstBuddies->setCurrentItem(entry);
    }
    lstBuddies_Click();
}

void frmBuddyList::lstBuddies_Click()
{
    withErrorReport("Buddy Details", [this] {
        const QListWidgetItem* entry = ui->lstBuddies->currentItem();
        if (!entry || !library_)
            return;
        const std::shared_ptr<Buddy> buddy = library_->Buddies()->Item(entry->text());
        if (!buddy)
            return;
        UserDetails::show(session_, ui->lstBuddies, *buddy, ui->lblHandle, ui->lblEmail, ui->imgBuddy);
    });
}

void frmBuddyList::cmdAdd_Click()
{
    withErrorReport("Add Buddy", [this] { addBuddy(); });
    ui->txtEmail->setFocus();
}

void frmBuddyList::addBuddy()
{
    const QString text = trimSpaces(ui->txtEmail->text());
    ui->txtEmail->setText(text);

    // A buddy's own address, letter case and all, needs no question to the service.
    const std::shared_ptr<Buddies> buddies = library_->Buddies();
    for (int i = 0; i < ui->lstBuddies->count(); ++i) {
        const QString handle = ui->lstBuddies->item(i)->text();
        const std::shared_ptr<Buddy> buddy = buddies->Item(handle);
        if (buddy && buddy->Email() == text) {
            informAlreadyListed(QStringLiteral("'%1' is already on your Buddy List.").arg(handle));
            return;
        }
    }
    if (text.isEmpty()) {
        UserDialogs::current().beep();
        return;
    }

    // The new buddy is looked up at once, so that the main window can show its tab.
    struct Added {
        LookedUpUser buddy;
        QString unreachable; // why no answer came, when none did
    };
    session_.askFrom<Added>(
        "Add Buddy", this,
        [text](Confabo& service) {
            Added found;
            ServiceFailure::clear();
            found.buddy.handle = service.AddBuddy(text);
            found.unreachable = ServiceFailure::unreachableText();
            if (const std::shared_ptr<Buddy> buddy = service.Buddies()->Item(found.buddy.handle))
                found.buddy = BuddyLookup::buddy(*buddy);
            return found;
        },
        [this, text](const Added& added) {
            withErrorReport("Add Buddy", [&] { showAdded(text, added.buddy, added.unreachable); });
            ui->txtEmail->setFocus();
        });
}

void frmBuddyList::showAdded(const QString& text, const LookedUpUser& buddy, const QString& unreachable)
{
    if (!library_)
        return;
    const QString handle = buddy.handle;
    BuddyLookup::adopt({buddy}, *library_, {});
    if (handle.isEmpty() && !unreachable.isEmpty()) {
        // No answer is no "not found": the user is told the service was not reached.
        UserDialogs::current().beep();
        UserDialogs::current().messageBox(this, unreachable + QStringLiteral(" Please try again later."),
            UserDialogs::Buttons::Ok, UserDialogs::Icon::Exclamation, Title);
    } else if (handle.isEmpty()) {
        UserDialogs::current().beep();
        UserDialogs::current().messageBox(this, QStringLiteral("Could not find a match for '%1'.").arg(text),
            UserDialogs::Buttons::Ok, UserDialogs::Icon::Exclamation, Title);
    } else if (ui->lstBuddies->findItems(handle, Qt::MatchFixedString).isEmpty()) {
        const std::shared_ptr<Buddy> added = library_->Buddies()->Item(handle);
        QListWidgetItem* entry = UserDetails::addEntry(ui->lstBuddies, handle, added ? added->BuddyID() : 0);
        ui->txtEmail->clear();
        selectEntry(entry);
        emit session_.buddyListsChanged();
    } else {
        informAlreadyListed(QStringLiteral("'%1' is already on your buddy list.").arg(handle));
    }
}

void frmBuddyList::informAlreadyListed(const QString& text)
{
    UserDialogs::current().messageBox(this, text, UserDialogs::Buttons::Ok, UserDialogs::Icon::Information, Title);
}

void frmBuddyList::cmdRemove_Click()
{
    QStringList checked; // from the last entry to the first
    for (int i = ui->lstBuddies->count() - 1; i >= 0; --i)
        if (ui->lstBuddies->item(i)->checkState() == Qt::Checked)
            checked.append(ui->lstBuddies->item(i)->text());
    // A relation the service did not drop stays listed (and checked), as a failed unblock does:
    // the buddy would be back at the next sign-in.
    askEachFrom(
        session_, "Remove Checked", this, checked,
        [](Confabo& service, const QString& handle) {
            const std::shared_ptr<Buddy> buddy = service.Buddies()->Item(handle);
            if (!buddy)
                return true;
            if (!buddy->Remove())
                return false;
            service.Buddies()->Remove(handle);
            return true;
        },
        [this](const QString& handle, bool removed) {
            if (!removed)
                return;
            emit session_.buddyRemoved(handle);
            {
                const QSignalBlocker block(ui->lstBuddies);
                for (QListWidgetItem* entry : ui->lstBuddies->findItems(handle, Qt::MatchExactly))
                    delete ui->lstBuddies->takeItem(ui->lstBuddies->row(entry));
            }
            selectEntry(ui->lstBuddies->item(0));
        });
}

void frmBuddyList::cmdVerify_Click()
{
    withErrorReport("Verify", [this] {
        const QListWidgetItem* entry = ui->lstBuddies->currentItem();
        const std::shared_ptr<Buddy> buddy = entry && library_ ? library_->Buddies()->Item(entry->text()) : nullptr;
        if (!buddy)
            return;
        VerifyDialog verify(session_, buddy, this);
        verify.exec();
    });
}

// The editor closes, so that the main window's tab for the buddy takes what the user writes.
void frmBuddyList::cmdMessage_Click()
{
    const QListWidgetItem* entry = ui->lstBuddies->currentItem();
    if (!entry)
        return;
    const QString handle = entry->text();
    accept();
    emit session_.conversationWanted(handle);
}

// Greyed while nobody is blocked (the list ends with one empty element), and its tooltip says so.
void frmBuddyList::showBlockListButton()
{
    session_.askFrom<QStringList>(
        "Edit Buddy List", ui->cmdBlockList, [](Confabo& service) { return service.GetBlockedUserList(); },
        [this](const QStringList& blocked) {
            const bool any = blocked.size() - 1 >= 1;
            ui->cmdBlockList->setEnabled(any);
            ui->cmdBlockList->setToolTip(any ? QStringLiteral("Show the users you have blocked, to unblock them")
                                             : QStringLiteral("You have blocked nobody. Block a user with Block on "
                                                              "the main window's toolbar."));
            emit blockListShown();
        });
}

void frmBuddyList::cmdBlockList_Click()
{
    withErrorReport("Blocking List", [this] {
        {
            frmBlockList blocked(session_, this);
            blocked.exec();
        }
        session_.setCurrentWindow(this);
        showBlockListButton();
    });
}

} // namespace cfb::client
