#pragma once

#include "speech/VoiceTuning.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QSlider;

namespace cfb::client {

// The voice settings: which voice, its rate, pitch and volume, and a phrase to try them on. The
// caller applies what the dialog holds when it is accepted.
class VoicesDialog : public QDialog {
    Q_OBJECT
public:
    VoicesDialog(const QStringList& voices, int currentVoice, const VoiceTuning& tuning, const QString& title,
        QWidget* parent = nullptr);

    // 1-based, as the engine counts voices.
    int voice() const;
    VoiceTuning tuning() const;

signals:
    // "Speak" pressed: say the test phrase as the dialog stands.
    void speakRequested(const QString& text, int voice, const cfb::client::VoiceTuning& tuning);

private:
    QSlider* addSlider(const QString& name, int low, int high, int value);

    QComboBox* cmbVoice_;
    QSlider* sldRate_;
    QSlider* sldPitch_;
    QSlider* sldVolume_;
    QLineEdit* txtTestPhrase_;
};

} // namespace cfb::client
