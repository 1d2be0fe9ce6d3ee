#pragma once

#include <QImage>
#include <QObject>
#include <QPoint>

#include <QTemporaryDir>

#include <memory>

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace cfb::client {

class ClientSession;
class MouthMarker;

// The avatar part of the profile tab: the picture with the mouth marker over it, the path field
// and Browse, and the camera box with Save Pic. A chosen picture larger than an avatar may be is
// made smaller as it is chosen and sent as that copy, kept in a folder of its own until the
// picker goes.
class AvatarPicker : public QObject {
    Q_OBJECT
public:
    struct Widgets {
        QWidget* fraAvatar;
        QLabel* imgAvatar;
        QFrame* picAvatar;
        QLineEdit* txtAvatarFile;
        QPushButton* cmdBrowse;
        QCheckBox* chkCamera;
        QPushButton* cmdCamera;
    };

    // dialog owns the boxes the picker shows.
    AvatarPicker(const Widgets& widgets, ClientSession& session, QWidget* dialog);
    ~AvatarPicker() override;

    // The picture shown and the marker at mouthTwips from its corner; the camera box only with a
    // camera.
    void load(const QImage& picture, QPoint mouthTwips);
    // The live camera into the camera box.
    void showPreview();

    // The mouth position as stored: the marker's offset from the avatar's corner, in twips of the
    // avatar at its own size.
    int mouthLeft() const;
    int mouthTop() const;
    // The file the avatar is sent from: the copy made to fit when the path field still names the
    // picture chosen, else the file the field names; empty for none.
    QString fileToSend() const;

private:
    void browse();
    void savePicture();
    void showCamera();
    void showAvatar(const QImage& picture);
    void placeMarker(int leftTwips, int topTwips);
    // The picture as sent, a smaller copy of it when the file is too large; null when it cannot be.
    QImage fitted(const QString& path, const QImage& picture);

    const Widgets ui_;
    ClientSession& session_;
    QWidget* dialog_;
    MouthMarker* picMouth_;
    double avatarScale_ = 1.0;
    QString chosenAvatar_;
    QString fittedAvatar_;
    std::unique_ptr<QTemporaryDir> fittedFolder_;
};

} // namespace cfb::client
