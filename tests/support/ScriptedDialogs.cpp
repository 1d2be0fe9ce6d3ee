#include "ScriptedDialogs.h"

ScriptedDialogs::ScriptedDialogs()
{
    install(this);
}

ScriptedDialogs::~ScriptedDialogs()
{
    install(nullptr);
}

int ScriptedDialogs::messageBox(QWidget* parent, const QString& text, Buttons buttons, Icon icon, const QString& title)
{
    return messageBoxWithHelp(parent, text, buttons, icon, title, 0);
}

int ScriptedDialogs::messageBoxWithHelp(
    QWidget*, const QString& text, Buttons buttons, Icon icon, const QString& title, int helpContext)
{
    const Box box{title, text, buttons, icon, helpContext};
    boxes.append(box);
    if (onBox)
        onBox(box);
    if (!answers.isEmpty())
        return answers.takeFirst();
    switch (buttons) {
    case Buttons::Ok:
    case Buttons::OkCancel:
        return AnswerOk;
    case Buttons::YesNo:
    case Buttons::YesNoCancel:
        return AnswerYes;
    case Buttons::RetryCancel:
        return AnswerRetry;
    }
    return AnswerOk;
}

QString ScriptedDialogs::openFileName(QWidget*, const QString&, const QString& filter)
{
    fileFilters.append(filter);
    return filesToOpen.isEmpty() ? QString() : filesToOpen.takeFirst();
}

QString ScriptedDialogs::saveFileName(QWidget*, const QString&, const QString& filter, const QString&)
{
    fileFilters.append(filter);
    return filesToSave.isEmpty() ? QString() : filesToSave.takeFirst();
}

bool ScriptedDialogs::openUrl(const QUrl& url)
{
    urls.append(url);
    return urlOpens;
}
