#include "chat/PictureFrame.h"

#include "common/UserDialogs.h"
#include "imaging/cDIBSection.h"
#include "messaging/PeerDatagram.h"
#include "platform/Settings.h"

#include <QFileInfo>
#include <QImageReader>

#include <algorithm>
#include <cmath>

namespace cfb::client {
namespace {

constexpr int DefaultQuality = 75;
// A copy of about this many pixels tells what a pixel of the picture costs at the quality; a
// smaller copy costs no less per pixel than the picture, so the guess it gives errs small.
constexpr qint64 ProbePixels = 256 * 256;
// The size guessed aims this far below the room, so that the first try usually fits.
constexpr double Aim = 0.9;
// A frame that fits but fills less of the room than this is tried larger, at most this often.
constexpr double WellFilled = 0.75;
constexpr int GrowTries = 2;
// A try that does not fit is followed by one at least this much smaller on each side.
constexpr double LeastShrink = 0.9;

bool isAbandoned(const std::atomic<bool>* abandoned)
{
    return abandoned && abandoned->load();
}

QByteArray jpeg(const QImage& picture, int quality)
{
    cDIBSection dib;
    dib.CreateFromPicture(picture);
    dib.setJPGQuality(int16_t(quality));
    return dib.JPGBuffer();
}

QSize sizeAt(const QImage& picture, double scale)
{
    if (scale >= 1)
        return picture.size();
    return QSize(std::max(1, int(std::lround(picture.width() * scale))),
        std::max(1, int(std::lround(picture.height() * scale))));
}

QImage resized(const QImage& picture, double scale)
{
    const QSize size = sizeAt(picture, scale);
    return size == picture.size() ? picture : picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// The largest frame from that handle that travels as one datagram.
qsizetype largestFrame(const QString& fromHandle)
{
    const qsizetype room
        = PeerDatagram::MaxDatagramSize - PeerDatagram::frameChunkSize(PeerDatagram::escapedText(fromHandle), 0);
    qsizetype bytes = std::min(PeerDatagram::FrameChunkSize, room / 4 * 3);
    while (bytes > 0 && !PictureFrame::fitsOneDatagram(bytes, fromHandle))
        --bytes;
    return bytes;
}

} // namespace

QString PictureFrame::chooseFile(QWidget* parent)
{
    return UserDialogs::current().openFileName(
        parent, QStringLiteral("Send Picture"), QStringLiteral("Pictures (*.png *.jpg *.jpeg *.bmp *.gif)"));
}

int PictureFrame::chosenQuality()
{
    bool ok = false;
    const int quality = Settings::ImageQuality.read().trimmed().toInt(&ok);
    return ok ? std::clamp(quality, 1, 100) : DefaultQuality;
}

void PictureFrame::reportUnreadable(QWidget* parent, const QString& path)
{
    UserDialogs::current().messageBox(parent,
        QStringLiteral("The picture \"%1\" could not be read, so it was not sent. Choose a JPEG (.jpg) or "
                       "bitmap (.bmp) picture.")
            .arg(QFileInfo(path).fileName()),
        UserDialogs::Buttons::Ok, UserDialogs::Icon::Exclamation, QStringLiteral("Confabo - Send Picture"));
}

PictureFrame::Prepared PictureFrame::prepare(
    const QString& path, int quality, const QString& fromHandle, const std::atomic<bool>* abandoned)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    // The decoder scales while it decodes (a JPEG by whole eighths), far cheaper than reading
    // every pixel of a photograph that is then sent a fraction of its size. The scaled size is
    // that of the stored picture, before any turn its orientation asks for.
    const QSize stored = reader.size();
    if (stored.isValid() && (stored.width() > LargestSide || stored.height() > LargestSide))
        reader.setScaledSize(stored.scaled(LargestSide, LargestSide, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    Prepared prepared;
    if (isAbandoned(abandoned))
        return prepared;
    prepared.picture = reader.read();
    prepared.frame = encode(prepared.picture, quality, fromHandle, abandoned);
    return prepared;
}

bool PictureFrame::fitsOneDatagram(qsizetype bytes, const QString& fromHandle)
{
    return bytes > 0 && bytes <= PeerDatagram::FrameChunkSize
        && PeerDatagram::frameChunkSize(PeerDatagram::escapedText(fromHandle), bytes) <= PeerDatagram::MaxDatagramSize;
}

QByteArray PictureFrame::encode(
    const QImage& picture, int quality, const QString& fromHandle, const std::atomic<bool>* abandoned)
{
    if (picture.isNull())
        return {};
    const qsizetype room = largestFrame(fromHandle);
    if (room <= 0)
        return {};

    // The first try at the size a small copy says fits, rather than the whole picture.
    double scale = 1;
    const qint64 pixels = qint64(picture.width()) * picture.height();
    if (pixels > ProbePixels) {
        const QImage probe = resized(picture, std::sqrt(double(ProbePixels) / double(pixels)));
        const QByteArray probeBytes = jpeg(probe, quality);
        if (probeBytes.isEmpty())
            return {};
        const double perPixel = double(probeBytes.size()) / (qint64(probe.width()) * probe.height());
        scale = std::min(1.0, std::sqrt(Aim * double(room) / perPixel / double(pixels)));
    }

    QByteArray fitting;
    int grown = 0;
    for (;;) {
        if (isAbandoned(abandoned))
            return {};
        const QByteArray bytes = jpeg(resized(picture, scale), quality);
        if (bytes.isEmpty())
            return fitting;
        const double toAim = std::sqrt(Aim * double(room) / double(bytes.size()));
        if (bytes.size() > room) {
            if (!fitting.isEmpty())
                return fitting; // tried larger and it did not fit: the last that did
            if (sizeAt(picture, scale) == QSize(1, 1))
                return {};
            scale *= std::min(toAim, LeastShrink);
            continue;
        }
        fitting = bytes;
        if (scale >= 1 || bytes.size() >= WellFilled * double(room) || grown == GrowTries)
            return fitting;
        const double larger = std::min(1.0, scale * toAim);
        if (sizeAt(picture, larger) == sizeAt(picture, scale))
            return fitting;
        scale = larger;
        ++grown;
    }
}

} // namespace cfb::client
