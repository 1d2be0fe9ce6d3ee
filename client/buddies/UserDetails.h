#pragma once

#include <QString>

class QImage;
class QLabel;
class QListWidget;
class QListWidgetItem;

namespace cfb::client {

// Shared by the list dialogs: checkable entries carrying an id, and a user's details shown as
// avatar, handle and e-mail address.
namespace UserDetails {

// Appends a checkable, unchecked entry with the id as its item data.
QListWidgetItem* addEntry(QListWidget* list, const QString& handle, int id);

// The avatar scaled into the label (aspect kept); a null image clears it.
void showAvatar(QLabel* label, const QImage& avatar);

} // namespace UserDetails
} // namespace cfb::client
