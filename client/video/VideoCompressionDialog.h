#pragma once

#include <QDialog>

class QCheckBox;
class QSlider;
class QSpinBox;

namespace cfb::client {

class CaptureSource;
class FrameSender;

// The Video Compression dialog: the JPEG quality of sent frames, 1 (smallest) to 100 (best), and
// the encoder: straight from the camera's planes (the default) or the exact path through the
// bitmap. Accepting stores them in "Image Quality" and "Encode From Planes" and hands them to the
// frame sender, when there is one.
class VideoCompressionDialog : public QDialog {
    Q_OBJECT
public:
    explicit VideoCompressionDialog(FrameSender* sender = nullptr, QWidget* parent = nullptr);

    // Runs the dialog; false, showing nothing, without a source.
    static bool showFor(CaptureSource* source, QWidget* parent, FrameSender* sender = nullptr);

    void accept() override;

private:
    FrameSender* sender_;
    QSlider* sldQuality_;
    QSpinBox* spnQuality_;
    QCheckBox* chkEncodeFromPlanes_;
};

} // namespace cfb::client
