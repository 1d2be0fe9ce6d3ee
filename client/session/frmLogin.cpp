#include "session/frmLogin.h"

#include "ui_frmLogin.h"

#include "common/HelpContexts.h"
#include "common/TrimSpaces.h"
#include "common/modMain.h"
#include "platform/Settings.h"
#include "protocol/SkipJack.h"
#include "resources/ClientResources.h"
#include "session/SessionDialogs.h"
#include "session/StoredPassword.h"

#include <QMouseEvent>
#include <QTimer>

namespace cfb::client {

QString frmLogin::rememberedPassword(const QString& enciphered)
{
    return trimSpaces(SkipJack::HexToStr(SkipJack::DecryptHex(enciphered))).remove(QChar(0));
}

frmLogin::frmLogin(SessionDialogs& dialogs, QWidget* parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::frmLogin>())
    , dialogs_(dialogs)
{
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    ui->imgLogo->setPixmap(applicationIcon().pixmap(64, 64));
    QFont helpFont = ui->lblHelp->font();
    helpFont.setUnderline(true);
    ui->lblHelp->setFont(helpFont);

    ui->txtHandle->setText(Settings::Handle.read());
    ui->txtPassword->setText(rememberedPassword(StoredPassword::read()));
    ui->chkAutoLogin->setChecked(false);

    ui->txtHandle->installEventFilter(this);
    ui->txtPassword->installEventFilter(this);
    ui->lblHelp->installEventFilter(this);
    connect(ui->cmdOK, &QPushButton::clicked, this, &frmLogin::cmdOK_Click);
    connect(ui->cmdRegister, &QPushButton::clicked, this, &frmLogin::cmdRegister_Click);
    connect(ui->cmdCancel, &QPushButton::clicked, this, &frmLogin::cmdCancel_Click);
}

frmLogin::~frmLogin() = default;

bool frmLogin::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn && (watched == ui->txtHandle || watched == ui->txtPassword)) {
        // After the event: a mouse press that gave the focus would place the caret over it.
        auto* field = static_cast<QLineEdit*>(watched);
        QTimer::singleShot(0, field, [field] { modMain::SelectAllText(field); });
    } else if (event->type() == QEvent::MouseButtonRelease && watched == ui->lblHelp
        && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        modMain::ShowHelp(HelpContext::Contents);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void frmLogin::setCredentials(const QString& handle, const QString& password)
{
    ui->txtHandle->setText(handle);
    ui->txtPassword->setText(password);
}

void frmLogin::cmdOK_Click()
{
    Settings::Handle.write(ui->txtHandle->text());
    StoredPassword::write(SkipJack::EncipherPassword(ui->txtPassword->text()));
    Settings::AutoLogin.write(ui->chkAutoLogin->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    accept();
}

void frmLogin::cmdRegister_Click()
{
    try {
        dialogs_.showSetup(this);
    } catch (const std::exception& e) {
        modMain::ReportError(QString::fromUtf8(e.what()), modMain::EventError, true);
    }
}

void frmLogin::cmdCancel_Click()
{
    hide();
    reject();
}

} // namespace cfb::client
