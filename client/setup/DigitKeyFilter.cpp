#include "setup/DigitKeyFilter.h"

#include "common/UserDialogs.h"

#include <QKeyEvent>

namespace cfb::client {

bool DigitKeyFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const QString text = key->text();
    const bool passes = text.isEmpty() || key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab
        || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter || key->key() == Qt::Key_Escape;
    if (!passes && (text.size() != 1 || !(text.at(0).isDigit() || text.at(0) == u'.' || text.at(0) == u'\b'))) {
        UserDialogs::current().beep();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace cfb::client
