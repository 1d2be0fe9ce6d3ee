#pragma once

#include <QList>
#include <QObject>
#include <QString>

class QAction;
class QMenu;

namespace cfb::client {

class SpeechEngine;

// The 30 voice items of a voices menu (item i stands for voice i) and the choosing of a buddy's
// voice: the main window's "&Select Voice" and the detached window's "Voices" share it.
class VoiceMenu : public QObject {
    Q_OBJECT
public:
    static constexpr int Items = 30;

    // Appends the items to the menu, hidden until load() names them.
    VoiceMenu(QMenu* menu, QObject* parent = nullptr);

    // Names item i after voice i until the engine has no more voices or 30 are named, checks the
    // current voice and hides the rest. Without an engine every item stays hidden.
    void load(SpeechEngine* speech);
    // Makes voice `index` the engine's current one (switch flag set around the change), saves it as
    // the buddy's "Speaker" and checks its item. Raises ConfaboError, having switched the voice,
    // when there is no buddy to save it for.
    void select(SpeechEngine* speech, int index, const QString& buddyHandle);
    // The buddy's "Speaker" setting: a voice number, 1 when the value is missing or no number.
    static int speakerOf(const QString& buddyHandle);

    QAction* item(int index) const;

signals:
    // The user chose item `index`.
    void chosen(int index);

private:
    void check(int index);

    QList<QAction*> items_;
};

} // namespace cfb::client
