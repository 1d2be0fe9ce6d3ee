#include "chat/PictureViewer.h"

#include "common/UserDialogs.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QImageWriter>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

namespace cfb::client {

PictureViewer::PictureViewer(const QImage& picture, const QString& handle, const QDateTime& when, QWidget* parent)
    : QDialog(parent)
    , picture_(picture)
    , handle_(handle)
    , when_(when)
{
    setObjectName(QStringLiteral("PictureViewer"));
    setWindowTitle(QStringLiteral("Picture from %1 - %2").arg(handle, QLocale().toString(when, QLocale::ShortFormat)));
    auto* shown = new QLabel;
    shown->setObjectName(QStringLiteral("imgPicture"));
    shown->setAlignment(Qt::AlignCenter);
    // Whole on the screen it opens on: scaled down, never up.
    const QScreen* screen = parent ? parent->screen() : nullptr;
    const QSize room = screen ? screen->availableSize() * 0.85 - QSize(40, 80) : QSize(1200, 800);
    const QImage fitted = picture.width() > room.width() || picture.height() > room.height()
        ? picture.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation)
        : picture;
    shown->setPixmap(QPixmap::fromImage(fitted));
    auto* area = new QScrollArea;
    area->setWidget(shown);
    area->setWidgetResizable(true);
    area->setMinimumSize(fitted.size().boundedTo(room) + QSize(4, 4));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    QPushButton* save = buttons->addButton(QStringLiteral("Save Picture As..."), QDialogButtonBox::ActionRole);
    save->setObjectName(QStringLiteral("cmdSavePicture"));
    connect(save, &QPushButton::clicked, this, [this] { saveAs(this, picture_, handle_, when_); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(area, 1);
    layout->addWidget(buttons);
}

PictureViewer* PictureViewer::open(const QImage& picture, const QString& handle, const QDateTime& when, QWidget* parent)
{
    auto* viewer = new PictureViewer(picture, handle, when, parent);
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    viewer->show();
    viewer->raise();
    viewer->activateWindow();
    return viewer;
}

bool PictureViewer::saveAs(QWidget* parent, const QImage& picture, const QString& handle, const QDateTime& when)
{
    if (picture.isNull())
        return false;
    QString path = UserDialogs::current().saveFileName(parent, QStringLiteral("Save Picture As"),
        QStringLiteral("PNG Images (*.png);;JPEG Images (*.jpg *.jpeg);;Bitmaps (*.bmp)"));
    if (path.isEmpty())
        return false;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".png");
    QImageWriter writer(path);
    if (writer.format().isEmpty())
        writer.setFormat("png");
    if (writer.write(picture))
        return true;
    UserDialogs::current().messageBox(parent,
        QStringLiteral("The picture from %1 (%2) could not be saved as \"%3\": %4")
            .arg(handle, QLocale().toString(when, QLocale::ShortFormat), QFileInfo(path).fileName(),
                writer.errorString()),
        UserDialogs::Buttons::Ok, UserDialogs::Icon::Exclamation, QStringLiteral("Confabo - Save Picture"));
    return false;
}

} // namespace cfb::client
