#pragma once

#include "common/UserDialogs.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// A UserDialogs for tests: installed for the life of the object, it records every message box
// (title, text, buttons, icon) and answers from a queue of answers; with the queue empty it
// answers the first button's code. File dialogs return queued paths; links and beeps are recorded.
class ScriptedDialogs : public cfb::client::UserDialogs {
public:
    struct Box {
        QString title;
        QString text;
        Buttons buttons;
        Icon icon;
        int helpContext = 0; // the Help button's topic; 0 for a box without one
    };

    ScriptedDialogs();
    ~ScriptedDialogs() override;
    ScriptedDialogs(const ScriptedDialogs&) = delete;
    ScriptedDialogs& operator=(const ScriptedDialogs&) = delete;

    int messageBox(QWidget* parent, const QString& text, Buttons buttons, Icon icon, const QString& title) override;
    int messageBoxWithHelp(QWidget* parent, const QString& text, Buttons buttons, Icon icon, const QString& title,
        int helpContext) override;
    QString openFileName(QWidget* parent, const QString& title, const QString& filter) override;
    QString saveFileName(QWidget* parent, const QString& title, const QString& filter, const QString& suggested) override;
    void beep() override { ++beeps; }
    bool openUrl(const QUrl& url) override;

    // Answers for the next message boxes, in order.
    QList<int> answers;
    // Runs when a message box is asked, before it is answered (a test can act while it is "open").
    std::function<void(const Box&)> onBox;
    QStringList filesToOpen;
    QStringList filesToSave;
    bool urlOpens = true;

    QList<Box> boxes;
    QStringList fileFilters;
    QList<QUrl> urls;
    int beeps = 0;
};
