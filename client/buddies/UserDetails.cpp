#include "buddies/UserDetails.h"

#include "messaging/Buddy.h"

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

} // namespace cfb::client::UserDetails
