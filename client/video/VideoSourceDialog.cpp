#include "video/VideoSourceDialog.h"

#include "common/UserDialogs.h"
#include "platform/Settings.h"
#include "video/CaptureSource.h"

#include <QCameraDevice>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QMediaDevices>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

namespace cfb::client {

VideoSourceDialog::VideoSourceDialog(const CaptureSource& source, QWidget* parent)
    : QDialog(parent)
    , optCamera_(new QRadioButton(tr("&Camera:"), this))
    , optPattern_(new QRadioButton(tr("&Test pattern"), this))
    , optFile_(new QRadioButton(tr("Video &file (.y4m):"), this))
    , cmbCamera_(new QComboBox(this))
    , txtFile_(new QLineEdit(this))
    , cmdBrowse_(new QPushButton(tr("&Browse..."), this))
{
    setWindowTitle(tr("Video Source"));
    optCamera_->setObjectName(QStringLiteral("optCamera"));
    optPattern_->setObjectName(QStringLiteral("optPattern"));
    optFile_->setObjectName(QStringLiteral("optFile"));
    cmbCamera_->setObjectName(QStringLiteral("cmbCamera"));
    txtFile_->setObjectName(QStringLiteral("txtFile"));
    cmdBrowse_->setObjectName(QStringLiteral("cmdBrowse"));

    for (const QCameraDevice& camera : QMediaDevices::videoInputs())
        cmbCamera_->addItem(camera.description(), QStringLiteral("camera:") + QString::fromUtf8(camera.id()));
    if (cmbCamera_->count() == 0) {
        cmbCamera_->addItem(tr("(No camera found)"));
        optCamera_->setEnabled(false);
    }

    const QString current = source.name();
    if (current.startsWith(QLatin1String("camera:"))) {
        optCamera_->setChecked(true);
        cmbCamera_->setCurrentIndex(std::max(0, cmbCamera_->findData(current)));
    } else if (current == QLatin1String("pattern")) {
        optPattern_->setChecked(true);
    } else {
        optFile_->setChecked(true);
        txtFile_->setText(current);
    }

    auto* grid = new QGridLayout;
    grid->addWidget(optCamera_, 0, 0);
    grid->addWidget(cmbCamera_, 0, 1, 1, 2);
    grid->addWidget(optPattern_, 1, 0, 1, 3);
    grid->addWidget(optFile_, 2, 0);
    grid->addWidget(txtFile_, 2, 1);
    grid->addWidget(cmdBrowse_, 2, 2);
    grid->setColumnStretch(1, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons);

    connect(cmdBrowse_, &QPushButton::clicked, this, &VideoSourceDialog::browse);
    for (QRadioButton* option : {optCamera_, optPattern_, optFile_})
        connect(option, &QRadioButton::toggled, this, &VideoSourceDialog::updateEnabled);
    updateEnabled();
    resize(420, sizeHint().height());
}

bool VideoSourceDialog::showFor(CaptureSource* source, QWidget* parent, QString* chosen)
{
    if (chosen)
        chosen->clear();
    if (!source)
        return false;
    VideoSourceDialog dialog(*source, parent);
    if (dialog.exec() == QDialog::Accepted && chosen)
        *chosen = dialog.choice();
    return true;
}

QString VideoSourceDialog::choice() const
{
    if (optCamera_->isChecked())
        return cmbCamera_->currentData().toString();
    if (optPattern_->isChecked())
        return QStringLiteral("pattern");
    return txtFile_->text().trimmed();
}

void VideoSourceDialog::accept()
{
    const QString value = choice();
    if (value.isEmpty()) { // a file option without a file: nothing to keep yet
        txtFile_->setFocus();
        return;
    }
    Settings::VideoSource.write(value);
    QDialog::accept();
}

void VideoSourceDialog::browse()
{
    const QString path
        = UserDialogs::current().openFileName(this, tr("Video File"), tr("Y4M video (*.y4m);;All files (*)"));
    if (path.isEmpty())
        return;
    txtFile_->setText(path);
    optFile_->setChecked(true);
}

void VideoSourceDialog::updateEnabled()
{
    cmbCamera_->setEnabled(optCamera_->isChecked());
    txtFile_->setEnabled(optFile_->isChecked());
}

} // namespace cfb::client
