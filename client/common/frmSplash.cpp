#include "common/frmSplash.h"

#include "ui_frmSplash.h"

#include "ConfaboVersion.h"
#include "common/modMain.h"
#include "resources/ClientResources.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLayout>
#include <QKeyEvent>

namespace cfb::client {

QString frmSplash::version()
{
    return QStringLiteral(CONFABO_VERSION);
}

QString frmSplash::versionText()
{
    return QStringLiteral("Version ") + version();
}

frmSplash::frmSplash(QWidget* parent)
    : QDialog(parent, Qt::SplashScreen | Qt::WindowStaysOnTopHint)
    , ui(std::make_unique<Ui::frmSplash>())
{
    ui->setupUi(this);
    ui->lblProductName->setText(QLatin1String(modMain::AppTitle));
    ui->lblVersion->setText(versionText());
    ui->imgLogo->setPixmap(applicationIcon().pixmap(96, 96));

    QFont title = ui->lblProductName->font();
    title.setPointSizeF(title.pointSizeF() * 2.6);
    title.setBold(true);
    ui->lblProductName->setFont(title);
    QFont platform = ui->lblPlatform->font();
    platform.setPointSizeF(platform.pointSizeF() * 1.4);
    ui->lblPlatform->setFont(platform);
    setFixedSize(sizeHint().expandedTo(QSize(420, 0)));
}

frmSplash::~frmSplash() = default;

void frmSplash::becomeAboutBox()
{
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("About %1").arg(QLatin1String(modMain::AppTitle)));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->setObjectName(QStringLiteral("cmdClose"));
    buttons->setContentsMargins(8, 8, 8, 8);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout()->addWidget(buttons);
    setFixedSize(sizeHint().expandedTo(QSize(420, 0)));
}

void frmSplash::showAtStart()
{
    qApp->installEventFilter(this);
    show();
}

bool frmSplash::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show && watched != this && watched->isWidgetType()) {
        const auto* window = static_cast<QWidget*>(watched);
        const Qt::WindowType type = window->windowType();
        if (window->isWindow() && (type == Qt::Window || type == Qt::Dialog)) {
            qApp->removeEventFilter(this);
            close();
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmSplash::keyPressEvent(QKeyEvent* event)
{
    event->accept();
    close();
}

void frmSplash::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    close();
}

} // namespace cfb::client
