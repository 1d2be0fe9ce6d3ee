#pragma once

#include <QObject>
#include <QSize>

class QComboBox;
class QFrame;
class QLineEdit;
class QPushButton;
class QScrollBar;
class QWidget;

namespace cfb::client {

class ClientSession;

// The setup dialog's "Video" tab: the live preview, the display rate, the image quality and the
// capture driver's format, source and compression dialogs. It keeps the capture format as it was
// when the dialog opened or last saved, so that Cancel can put it back.
class VideoTab : public QObject {
    Q_OBJECT
public:
    struct Widgets {
        QFrame* picVideo;
        QComboBox* cmbFrameRate;
        QLineEdit* txtJPEGQuality;
        QScrollBar* scrlJPEGImageQuality;
        QPushButton* cmdFormat;
        QPushButton* cmdSource;
        QPushButton* cmdCompression;
    };

    // dialog owns the widgets and the boxes the tab shows.
    VideoTab(const Widgets& widgets, ClientSession& session, QWidget* dialog);

    void load();
    // Each time the dialog comes up: the stored display rate.
    void activate();
    // The live camera into the preview box.
    void showPreview();
    // The rate and quality are stored whether there is a camera or not.
    void save();
    // The capture format as kept, for Cancel.
    void restoreFormat();

private:
    void frameRateChosen();
    void showFormatDialog();
    void showSourceDialog();
    void showCompressionDialog();
    void noCaptureSource();
    void keepFormat();
    void showStoredQuality();
    void showCodecCaption();

    const Widgets ui_;
    ClientSession& session_;
    QWidget* dialog_;
    QSize savedFrameSize_;
    int savedFrameRate_ = 0;
    QString shownRate_; // the rate the list showed when the dialog became active
};

} // namespace cfb::client
