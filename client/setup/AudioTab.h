#pragma once

#include <QObject>

class QComboBox;
class QLabel;

namespace cfb::client {

// The setup dialog's "Audio" tab: the microphone and the loudspeaker of calls, each "System
// default" or one of the devices Qt Multimedia lists now ("Audio Input", "Audio Output"). A
// device chosen before that is not there now is still listed, marked as missing, so that saving
// keeps it; calls take the default meanwhile.
class AudioTab : public QObject {
    Q_OBJECT
public:
    struct Widgets {
        QComboBox* cmbAudioInput;
        QComboBox* cmbAudioOutput;
        QLabel* lblAudioNote;
    };

    AudioTab(const Widgets& widgets, QObject* parent);

    void load();
    void save();

private:
    const Widgets ui_;
};

} // namespace cfb::client
