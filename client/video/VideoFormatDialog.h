#pragma once

#include <QDialog>

class QComboBox;
class QSpinBox;

namespace cfb::client {

class CaptureSource;

// The Video Format dialog: the picture size, from the common sizes the source supports, and the
// frame rate. Accepting applies both to the source (also while it runs) and stores them in
// "Video Width", "Video Height" and "Frame Rate".
class VideoFormatDialog : public QDialog {
    Q_OBJECT
public:
    VideoFormatDialog(CaptureSource& source, QWidget* parent = nullptr);

    // Runs the dialog; false, showing nothing, without a source.
    static bool showFor(CaptureSource* source, QWidget* parent);

    void accept() override;

private:
    CaptureSource& source_;
    QComboBox* cmbSize_;
    QSpinBox* spnRate_;
};

} // namespace cfb::client
