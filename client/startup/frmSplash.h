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
    static constexpr int VersionMajor = 1;
    static constexpr int VersionMinor = 0;
    static constexpr int VersionRevision = 0;

    explicit frmSplash(QWidget* parent = nullptr);
    ~frmSplash() override;

    // "Version 1.0.0".
    static QString versionText();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    std::unique_ptr<Ui::frmSplash> ui;
};

} // namespace cfb::client
