#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class frmBlockList;
}

namespace cfb {
class Confabo;
}

namespace cfb::client {

class ClientSession;

// The block-list editor, opened modally from the buddy-list editor: lists the blocked handles and
// unblocks the checked ones. The list fills in once the service has answered. While it is open
// it is the main window's current window.
class frmBlockList : public QDialog {
    Q_OBJECT
public:
    frmBlockList(ClientSession& session, QWidget* parent);
    ~frmBlockList() override;

    void done(int result) override;

signals:
    // The blocked handles have arrived from the service and are listed.
    void loaded();

private:
    void load();
    void cmdRemove_Click();

    std::unique_ptr<Ui::frmBlockList> ui;
    ClientSession& session_;
    cfb::Confabo* library_;
};

} // namespace cfb::client
