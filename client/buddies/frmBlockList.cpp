#include "buddies/frmBlockList.h"

#include "ui_frmBlockList.h"

#include "buddies/UserDetails.h"
#include "common/LocalErrorHandler.h"
#include "messaging/Confabo.h"
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
    withErrorReport("Blocked User List", [this] { load(); });
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
    // The list ends with one empty element, which is no handle.
    const QStringList blocked = session_
                                    .call<QStringList>("Blocked User List", this,
                                        [](Confabo& service) { return service.GetBlockedUserList(); })
                                    .value_or(QStringList());
    for (qsizetype i = 0; i + 1 < blocked.size(); ++i)
        UserDetails::addEntry(ui->lstBlocked, blocked.at(i), 0);
}

void frmBlockList::cmdRemove_Click()
{
    withErrorReport("Unblock Checked", [this] {
        for (int i = ui->lstBlocked->count() - 1; i >= 0; --i) {
            QListWidgetItem* entry = ui->lstBlocked->item(i);
            if (entry->checkState() != Qt::Checked)
                continue;
            const QString handle = entry->text();
            if (!session_
                     .call<bool>(
                         "Unblock Checked", this, [handle](Confabo& service) { return service.UnBlockUser(handle); })
                     .value_or(false))
                continue;
            delete ui->lstBlocked->takeItem(i);
            emit session_.buddySwitchesChanged();
        }
    });
}

} // namespace cfb::client
