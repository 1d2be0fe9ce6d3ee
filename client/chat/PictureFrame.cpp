#include "chat/PictureFrame.h"

#include "common/UserDialogs.h"
#include "imaging/cDIBSection.h"
#include "messaging/Buddy.h"
#include "messaging/PeerDatagram.h"
#include "platform/Settings.h"

#include <QFileInfo>
#include <QImageReader>

#include <algorithm>

namespace cfb::client {
namespace {

constexpr int DefaultQuality = 75;
constexpr int QualityStep = 10;
// Below this the picture gets smaller rather than blurrier.
constexpr int LowestQuality = 20;

int chosenQuality()
{
    bool ok = false;
    const int quality = Settings::ImageQuality.read().trimmed().toInt(&ok);
    return ok ? std::clamp(quality, 1, 100) : DefaultQuality;
}

QByteArray jpeg(const QImage& picture, int quality)
{
    cDIBSection dib;
    dib.CreateFromPicture(picture);
    dib.setJPGQuality(int16_t(quality));
    return dib.JPGBuffer();
}

} // namespace

QString PictureFrame::chooseFile(QWidget* parent)
{
    return UserDialogs::current().openFileName(
        parent, QStringLiteral("Open"), QStringLiteral("Pictures (*.jpg *.bmp)"));
}

QImage PictureFrame::load(QWidget* parent, const QString& path)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QImage picture = reader.read();
    if (picture.isNull())
        UserDialogs::current().messageBox(parent,
            QStringLiteral("The picture \"%1\" could not be read, so it was not sent. Choose a JPEG (.jpg) or "
                           "bitmap (.bmp) picture.")
                .arg(QFileInfo(path).fileName()),
            UserDialogs::Buttons::Ok, UserDialogs::Icon::Exclamation, QStringLiteral("Confabo - Send Picture"));
    return picture;
}

bool PictureFrame::fitsOneDatagram(qsizetype bytes, const QString& fromHandle)
{
    return bytes > 0 && bytes <= PeerDatagram::FrameChunkSize
        && PeerDatagram::frameChunkSize(PeerDatagram::escapedText(fromHandle), bytes) <= PeerDatagram::MaxDatagramSize;
}

QByteArray PictureFrame::encode(const QImage& picture, const QString& fromHandle)
{
    if (picture.isNull())
        return {};
    int quality = chosenQuality();
    QImage scaled = picture;
    for (;;) {
        QByteArray bytes = jpeg(scaled, quality);
        if (bytes.isEmpty() || fitsOneDatagram(bytes.size(), fromHandle))
            return bytes;
        if (quality > LowestQuality) {
            quality = std::max(LowestQuality, quality - QualityStep);
        } else if (scaled.width() > 1 || scaled.height() > 1) {
            scaled = scaled.scaled(std::max(1, scaled.width() / 2), std::max(1, scaled.height() / 2),
                Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        } else {
            return bytes; // a single pixel: nothing smaller to try
        }
    }
}

bool PictureFrame::send(cfb::Buddy& buddy, const QImage& picture, const QString& fromHandle, int16_t port)
{
    const QByteArray bytes = encode(picture, fromHandle);
    return !bytes.isEmpty() && buddy.SendFrame(bytes, fromHandle, port);
}

} // namespace cfb::client
