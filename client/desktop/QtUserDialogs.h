#pragma once

#include "common/UserDialogs.h"

namespace cfb::client {

// The program's UserDialogs: QMessageBox, QFileDialog, QApplication::beep and
// QDesktopServices::openUrl.
class QtUserDialogs : public UserDialogs {
public:
    int messageBox(QWidget* parent, const QString& text, Buttons buttons, Icon icon, const QString& title) override;
    int messageBoxWithHelp(QWidget* parent, const QString& text, Buttons buttons, Icon icon, const QString& title,
        int helpContext) override;
    QString openFileName(QWidget* parent, const QString& title, const QString& filter) override;
    QString saveFileName(QWidget* parent, const QString& title, const QString& filter, const QString& suggested) override;
    void beep() override;
    bool openUrl(const QUrl& url) override;
};

UserDialogs& qtUserDialogs();

} // namespace cfb::client
