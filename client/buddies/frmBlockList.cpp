#include "buddies/frmBlockList.h"

#include "ui_frmBlockList.h"

#include "buddies/UserDetails.h"
#include "messaging/Confabo.h"
#include "session/AskEach.h"
#include "session/ClientSession.h"

namespace cfb::client {

frmBlockList::frmBlockList(ClientSession& session, QWidget* parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::frmBlockList>())
    , session_(session)
    , library_(session.library())
{
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    connect(ui->cmdRemove, &QPushButton::clicked, this, &frmBlockList::cmdRemove_Click);
    connect(ui->cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    session_.setCurrentWindow(this);
    load();
}

frmBlockList::~frmBlockList() = default;

void frmBlockList::done(int result)
{
    library_ = nullptr;
    session_.setCurrentWindow(nullptr);
    QDialog::done(result);
}

void frmBlockList::load()
{
    session_.askFrom<QStringList>(
        "Blocked User List", this, [](Confabo& service) { return service.GetBlockedUserList(); },
        [this](const QStringList& blocked) {
            // The list ends with one empty element, which is no handle.
            for (qsizetype i = 0; i + 1 < blocked.size(); ++i)
                UserDetails::addEntry(ui->lstBlocked, blocked.at(i), 0);
            emit loaded();
        });
}

void frmBlockList::cmdRemove_Click()
{
    QStringList checked; // from the last entry to the first
    for (int i = ui->lstBlocked->count() - 1; i >= 0; --i)
        if (ui->lstBlocked->item(i)->checkState() == Qt::Checked)
            checked.append(ui->lstBlocked->item(i)->text());
    // One handle the service did not unblock stays listed and checked.
    askEachFrom(
        session_, "Unblock Checked", this, checked,
        [](Confabo& service, const QString& handle) { return service.UnBlockUser(handle); },
        [this](const QString& handle, bool unblocked) {
            if (!unblocked)
                return;
            for (QListWidgetItem* entry : ui->lstBlocked->findItems(handle, Qt::MatchExactly))
                delete ui->lstBlocked->takeItem(ui->lstBlocked->row(entry));
            emit session_.buddySwitchesChanged();
        });
}

} // namespace cfb::client
