#pragma once

#include <QString>

class QImage;
class QLabel;
class QListWidget;
class QListWidgetItem;

namespace cfb {
class Buddy;
} // namespace cfb

namespace cfb::client {

class ClientSession;

// Shared by the list dialogs: checkable entries carrying an id, and a user's details shown as
// avatar, handle and e-mail address.
namespace UserDetails {

// Appends a checkable, unchecked entry with the id as its item data.
QListWidgetItem* addEntry(QListWidget* list, const QString& handle, int id);

// The avatar scaled into the label (aspect kept); a null image clears it.
void showAvatar(QLabel* label, const QImage& avatar);

// The details pane of a list dialog: the user's handle, e-mail address and avatar. With a
// session, the avatar as the service has it now follows from the service thread, while the list's
// current entry is still this user.
void show(cfb::Buddy& user, QLabel* handle, QLabel* email, QLabel* avatar);
void show(ClientSession& session, QListWidget* list, cfb::Buddy& user, QLabel* handle, QLabel* email, QLabel* avatar);

} // namespace UserDetails
} // namespace cfb::client
