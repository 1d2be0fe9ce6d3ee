#pragma once

#include <QString>
#include <QUrl>

class QWidget;

namespace cfb::client {

// The one way the client asks the user something outside its own windows: message boxes, file
// dialogs, the beep and opening a link. The program installs the Qt implementation; tests install
// one that records what was asked and answers it.
class UserDialogs {
public:
    enum class Icon { None, Information, Question, Exclamation, Critical };
    enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };
    // The answers keep the platform's message-box codes, which callers store and compare.
    enum Answer { AnswerOk = 1, AnswerCancel = 2, AnswerRetry = 4, AnswerYes = 6, AnswerNo = 7 };

    virtual ~UserDialogs() = default;

    virtual int messageBox(QWidget* parent, const QString& text, Buttons buttons, Icon icon, const QString& title) = 0;
    // A message box with a Help button as well: Help opens the help window at helpContext and
    // closes the box (answered as its escape button would be).
    virtual int messageBoxWithHelp(
        QWidget* parent, const QString& text, Buttons buttons, Icon icon, const QString& title, int helpContext)
        = 0;
    // An empty result means the user cancelled.
    virtual QString openFileName(QWidget* parent, const QString& title, const QString& filter) = 0;
    // suggested: the path the dialog starts with (a folder and a name), else the pictures folder.
    virtual QString saveFileName(
        QWidget* parent, const QString& title, const QString& filter, const QString& suggested = QString())
        = 0;
    virtual void beep() = 0;
    // False when no program took the link.
    virtual bool openUrl(const QUrl& url) = 0;

    // The installed implementation. Installing nullptr puts the Qt one back.
    static UserDialogs& current();
    static void install(UserDialogs* dialogs);
};

} // namespace cfb::client
