#pragma once

#include <QObject>
#include <QString>

class QWidget;

namespace cfb::client {

class MouthWidget;

// Text to speech with a mouth that moves while it talks. The client relies on these members only;
// the implementation synthesises on a thread of its own, so no call here waits for speech.
class SpeechEngine : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SpeechEngine() override = default;

    // Queues the text: texts are spoken one after another in the order they were given, none
    // dropped (a text of blanks only has nothing to say and is ignored). The mouth given (if any)
    // moves in step with this text's audio; the caller places and shows it.
    virtual void speak(const QString& text, MouthWidget* mouth = nullptr) = 0;

    // Voices are numbered from 1; the name is empty past the last voice.
    virtual QString voiceName(int index) const = 0;
    // The language voice `index` speaks, as the user reads it ("English"); empty when unknown.
    virtual QString voiceLanguage(int index) const
    {
        Q_UNUSED(index);
        return QString();
    }
    virtual int currentVoice() const = 0;
    // The voice of the texts queued from now on; texts already queued keep theirs.
    virtual void setCurrentVoice(int index) = 0;
    // Set to true before the current voice changes and back to false afterwards.
    virtual void setSwitchFlag(bool on) = 0;

    // The engine's voice settings dialog, modal over the owner; what it sets is kept in the
    // settings and used for the texts queued after it closes.
    virtual void showVoicesDialog(QWidget* owner, const QString& title) = 0;

    // While held (a call has the loudspeaker), the text being spoken stops where it is and texts
    // given to speak() wait, each with its voice and mouth; on release all go on in order.
    virtual void setHeld(bool held) = 0;

    // False when speech could not start (no audio device, no voice data): texts are then not
    // heard, but the mouth still moves.
    virtual bool audioAvailable() const = 0;
};

} // namespace cfb::client
