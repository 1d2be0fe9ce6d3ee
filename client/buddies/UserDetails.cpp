#include "buddies/UserDetails.h"

#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "session/BuddyLookup.h"
#include "session/ClientSession.h"

#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>

namespace cfb::client::UserDetails {

QListWidgetItem* addEntry(QListWidget* list, const QString& handle, int id)
{
    auto* item = new QListWidgetItem(handle, list);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
    item->setData(Qt::UserRole, id);
    return item;
}

void showAvatar(QLabel* label, const QImage& avatar)
{
    if (avatar.isNull()) {
        label->clear();
        return;
    }
    label->setPixmap(
        QPixmap::fromImage(avatar).scaled(label->contentsRect().size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

void show(cfb::Buddy& user, QLabel* handle, QLabel* email, QLabel* avatar)
{
    handle->setText(user.handle());
    email->setText(user.Email());
    showAvatar(avatar, user.Avatar());
}

void show(ClientSession& session, QListWidget* list, cfb::Buddy& user, QLabel* handle, QLabel* email, QLabel* avatar)
{
    show(user, handle, email, avatar);
    const int32_t userID = user.BuddyUserID();
    const QString shown = user.handle();
    session.ask<QImage>(
        "User Details", list, [userID, shown](Confabo&) { return BuddyLookup::avatar(userID, shown); },
        [list, shown, avatar](const QImage& picture) {
            if (list->currentItem() && list->currentItem()->text() == shown)
                showAvatar(avatar, picture);
        });
}

} // namespace cfb::client::UserDetails
