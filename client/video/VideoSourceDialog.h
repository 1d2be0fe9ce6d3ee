#pragma once

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace cfb::client {

class CaptureSource;

// The Video Source dialog: a camera, the test pattern or a Y4M video file (with a Browse button).
// Accepting stores the choice in "Video Source"; the main window then makes the new source.
class VideoSourceDialog : public QDialog {
    Q_OBJECT
public:
    VideoSourceDialog(const CaptureSource& source, QWidget* parent = nullptr);

    // Runs the dialog; false, showing nothing, without a source. *chosen receives the accepted
    // "Video Source" value, empty when the user cancelled.
    static bool showFor(CaptureSource* source, QWidget* parent, QString* chosen = nullptr);

    // The "Video Source" value of the current selection (empty when a file is picked but no path
    // given).
    QString choice() const;

    void accept() override;

private:
    void browse();
    void updateEnabled();

    QRadioButton* optCamera_;
    QRadioButton* optPattern_;
    QRadioButton* optFile_;
    QComboBox* cmbCamera_;
    QLineEdit* txtFile_;
    QPushButton* cmdBrowse_;
};

} // namespace cfb::client
