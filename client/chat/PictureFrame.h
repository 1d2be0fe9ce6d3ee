#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <atomic>

class QWidget;

namespace cfb::client {

// A picture file as it goes to a buddy: one video frame, so that the buddy's client shows it like
// a frame of live video. Both chat windows send pictures this way (PictureSender); reading and
// encoding are safe on any thread.
class PictureFrame {
public:
    // The picture as read (at most LargestSide on its longer side) and the JPEG frame that goes
    // out. A null picture when the file could not be read as one.
    struct Prepared {
        QImage picture;
        QByteArray frame;
    };

    // No frame of one datagram carries more detail than a picture this wide or high; a larger
    // file is decoded at reduced size.
    static constexpr int LargestSide = 1280;

    // Asks for a picture file in the file-open dialog; empty when the user cancelled.
    static QString chooseFile(QWidget* parent);
    // The JPEG quality pictures and video are sent at: the setting "Image Quality".
    static int chosenQuality();
    // Tells the user that the file could not be read as a picture, so nothing was sent.
    static void reportUnreadable(QWidget* parent, const QString& path);

    // Reads the file and encodes it. Gives up (an empty result) once abandoned is set.
    static Prepared prepare(
        const QString& path, int quality, const QString& fromHandle, const std::atomic<bool>* abandoned = nullptr);
    // The picture as JPEG bytes at the given quality that travel in one datagram: at its own
    // size when that fits, else smaller, as large as fits, its proportions kept. Empty for a
    // null picture (or once abandoned is set).
    static QByteArray encode(
        const QImage& picture, int quality, const QString& fromHandle, const std::atomic<bool>* abandoned = nullptr);
    // Whether a frame of that many bytes from that handle travels as one datagram.
    static bool fitsOneDatagram(qsizetype bytes, const QString& fromHandle);
};

} // namespace cfb::client
