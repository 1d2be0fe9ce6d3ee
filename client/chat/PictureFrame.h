#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

class QWidget;

namespace cfb {
class Buddy;
}

namespace cfb::client {

// A picture file sent to a buddy as one video frame, so that the buddy's client shows it like a
// frame of live video. Both chat windows send pictures this way.
class PictureFrame {
public:
    // Asks for a picture file in the file-open dialog; empty when the user cancelled.
    static QString chooseFile(QWidget* parent);
    // The picture in the file. A file that cannot be read as a picture is reported to the user in
    // one message box, and a null image comes back.
    static QImage load(QWidget* parent, const QString& path);

    // The picture as JPEG bytes that travel in one datagram: at "Image Quality" when that fits,
    // else at lower qualities, and then at half the size (again and again) below quality 20.
    // Empty only for a null picture.
    static QByteArray encode(const QImage& picture, const QString& fromHandle);
    // Whether a frame of that many bytes from that handle travels as one datagram.
    static bool fitsOneDatagram(qsizetype bytes, const QString& fromHandle);

    // Encodes the picture and sends it to the buddy; false when nothing was sent (a buddy who is
    // not available).
    static bool send(cfb::Buddy& buddy, const QImage& picture, const QString& fromHandle, int16_t port);
};

} // namespace cfb::client
