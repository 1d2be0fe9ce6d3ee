#pragma once

#include <QDateTime>
#include <QDialog>
#include <QImage>
#include <QString>

namespace cfb::client {

// A picture from the conversation at its own size (scaled down only where the screen is
// smaller), with "Save Picture As...". Opens without blocking the chat.
class PictureViewer : public QDialog {
    Q_OBJECT
public:
    // handle sent the picture at when.
    PictureViewer(const QImage& picture, const QString& handle, const QDateTime& when, QWidget* parent);

    // Opens a viewer of its own, deleted when closed.
    static PictureViewer* open(const QImage& picture, const QString& handle, const QDateTime& when, QWidget* parent);
    // Asks for a file name and writes the picture there (the format by the name's extension,
    // PNG when it has none). Tells the user when it could not be written. False when nothing was
    // written.
    static bool saveAs(QWidget* parent, const QImage& picture, const QString& handle, const QDateTime& when);

private:
    QImage picture_;
    QString handle_;
    QDateTime when_;
};

} // namespace cfb::client
