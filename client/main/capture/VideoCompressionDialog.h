#pragma once

#include <QDialog>

class QSlider;
class QSpinBox;

namespace cfb::client {

class CaptureSource;
class FrameSender;

// The Video Compression dialog: the JPEG quality of sent frames, 1 (smallest) to 100 (best).
// Accepting stores it in "Image Quality" and hands it to the frame sender, when there is one.
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
};

} // namespace cfb::client
