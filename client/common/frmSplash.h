#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class frmSplash;
}

namespace cfb::client {

// The splash window of the start and the About box: product name, version and the vendor's
// labels. It has no timer; any key or a click closes it.
class frmSplash : public QDialog {
    Q_OBJECT
public:
    explicit frmSplash(QWidget* parent = nullptr);
    ~frmSplash() override;

    // The project's version ("0.1.0"), as CMake's project() gives it.
    static QString version();
    // "Version " and the version.
    static QString versionText();

    // Shows the splash of the start, not modal. It gives way to the first other window that opens
    // (the registration form, the sign-in window, a message box, the main window): a window the
    // user must use is never covered by it.
    void showAtStart();
    // Makes it the About box: a dialog with a title bar and a Close button (a key or a click still
    // closes it).
    void becomeAboutBox();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<Ui::frmSplash> ui;
};

} // namespace cfb::client
