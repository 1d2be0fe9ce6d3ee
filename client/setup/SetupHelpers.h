#pragma once

#include "common/UserDialogs.h"
#include "session/ClientSession.h"
#include "video/MainVideo.h"

#include <QComboBox>
#include <QGuiApplication>

namespace cfb::client {

// What the setup dialog's tabs share.
namespace SetupHelpers {

// The main window's video when it has a capture source, else null.
inline MainVideo* camera(const ClientSession& session)
{
    MainVideo* video = session.video();
    return video && video->hasSource() ? video : nullptr;
}

// A box shown while Apply or OK holds the busy pointer: the normal pointer while the user reads
// it, the busy one again afterwards.
inline void tellWhileBusy(QWidget* parent, const QString& text, UserDialogs::Icon icon, const QString& title)
{
    QGuiApplication::restoreOverrideCursor();
    UserDialogs::current().messageBox(parent, text, UserDialogs::Buttons::Ok, icon, title);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

// Selects the list's entry with that text, adding one when there is none.
inline void selectListText(QComboBox* list, const QString& text)
{
    int index = list->findText(text);
    if (index < 0) {
        list->addItem(text);
        index = list->count() - 1;
    }
    list->setCurrentIndex(index);
}

} // namespace SetupHelpers
} // namespace cfb::client
