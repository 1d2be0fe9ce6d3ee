#include "desktop/QtUserDialogs.h"

#include "common/HelpWindow.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>

namespace cfb::client {
namespace {

// A box shows centred on its owner; the owner hidden (the main window before it first shows, or
// in the tray), it shows centred on the screen rather than at the screen's corner.
void placeOver(QWidget& box, QWidget* owner)
{
    if (owner && owner->isVisible())
        return; // the dialog centres itself on it
    const QScreen* screen = owner && owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    box.adjustSize();
    box.move(screen->availableGeometry().center() - box.rect().center());
}

// Where file dialogs start: the user's pictures folder (what they open and save are pictures),
// else their home folder, never the program's. A folder that is not there would be taken for a
// file name.
QString picturesFolder()
{
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return pictures.isEmpty() || !QFileInfo(pictures).isDir() ? QStandardPaths::writableLocation(QStandardPaths::HomeLocation)
                                                               : pictures;
}

QMessageBox::StandardButtons standardButtons(UserDialogs::Buttons buttons)
{
    switch (buttons) {
    case UserDialogs::Buttons::Ok:
        return QMessageBox::Ok;
    case UserDialogs::Buttons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case UserDialogs::Buttons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case UserDialogs::Buttons::YesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case UserDialogs::Buttons::RetryCancel:
        return QMessageBox::Retry | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon boxIcon(UserDialogs::Icon icon)
{
    switch (icon) {
    case UserDialogs::Icon::None:
        return QMessageBox::NoIcon;
    case UserDialogs::Icon::Information:
        return QMessageBox::Information;
    case UserDialogs::Icon::Question:
        return QMessageBox::Question;
    case UserDialogs::Icon::Exclamation:
        return QMessageBox::Warning;
    case UserDialogs::Icon::Critical:
        return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

// Closing the box without a button (Escape, the title bar) gives the answer of its escape button:
// Cancel where there is one, No for Yes/No, Ok for a lone Ok.
int answerCode(QMessageBox::StandardButton button, UserDialogs::Buttons buttons)
{
    switch (button) {
    case QMessageBox::Ok:
        return UserDialogs::AnswerOk;
    case QMessageBox::Cancel:
        return UserDialogs::AnswerCancel;
    case QMessageBox::Retry:
        return UserDialogs::AnswerRetry;
    case QMessageBox::Yes:
        return UserDialogs::AnswerYes;
    case QMessageBox::No:
        return UserDialogs::AnswerNo;
    default:
        break;
    }
    switch (buttons) {
    case UserDialogs::Buttons::Ok:
        return UserDialogs::AnswerOk;
    case UserDialogs::Buttons::YesNo:
        return UserDialogs::AnswerNo;
    default:
        return UserDialogs::AnswerCancel;
    }
}

} // namespace

int QtUserDialogs::messageBox(QWidget* parent, const QString& text, Buttons buttons, Icon icon, const QString& title)
{
    QMessageBox box(boxIcon(icon), title, text, standardButtons(buttons), parent);
    box.setTextFormat(Qt::PlainText);
    placeOver(box, parent);
    const auto clicked = static_cast<QMessageBox::StandardButton>(box.exec());
    return answerCode(box.standardButton(box.clickedButton()) != QMessageBox::NoButton
            ? box.standardButton(box.clickedButton())
            : clicked,
        buttons);
}

int QtUserDialogs::messageBoxWithHelp(
    QWidget* parent, const QString& text, Buttons buttons, Icon icon, const QString& title, int helpContext)
{
    QMessageBox box(boxIcon(icon), title, text, standardButtons(buttons), parent);
    box.setTextFormat(Qt::PlainText);
    placeOver(box, parent);
    QPushButton* help = box.addButton(QMessageBox::Help);
    box.exec();
    if (box.clickedButton() == help) {
        // A window of its own: the box's owner may be a dialog that closes next.
        HelpWindow::showTopic(helpContext, nullptr);
        return answerCode(QMessageBox::NoButton, buttons);
    }
    return answerCode(box.standardButton(box.clickedButton()), buttons);
}

QString QtUserDialogs::openFileName(QWidget* parent, const QString& title, const QString& filter)
{
    return QFileDialog::getOpenFileName(parent, title, picturesFolder(), filter);
}

QString QtUserDialogs::saveFileName(QWidget* parent, const QString& title, const QString& filter, const QString& suggested)
{
    return QFileDialog::getSaveFileName(parent, title, suggested.isEmpty() ? picturesFolder() : suggested, filter);
}

void QtUserDialogs::beep()
{
    QApplication::beep();
}

bool QtUserDialogs::openUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

UserDialogs& qtUserDialogs()
{
    static QtUserDialogs dialogs;
    return dialogs;
}

} // namespace cfb::client
