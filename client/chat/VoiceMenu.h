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
//
// The items sit in submenus by language, under a title naming whose voice is chosen, so that the
// menu fits the screen wherever it pops up.
class VoiceMenu : public QObject {
    Q_OBJECT
public:
    static constexpr int Items = 30;
    // A language with more voices than this is split over several submenus.
    static constexpr int ItemsPerGroup = 12;

    // Puts the title at the top of the menu; the items follow in load()'s submenus.
    VoiceMenu(QMenu* menu, QObject* parent = nullptr);

    // Names item i after voice i until the engine has no more voices or 30 are named, groups them
    // by language, checks the current voice and hides the rest. Without an engine every item
    // stays hidden.
    void load(SpeechEngine* speech);
    // Makes voice `index` the engine's current one (switch flag set around the change), saves it as
    // the buddy's "Speaker" and checks its item. Raises ConfaboError, having switched the voice,
    // when there is no buddy to save it for.
    void select(SpeechEngine* speech, int index, const QString& buddyHandle);
    // The buddy's "Speaker" setting: a voice number, 1 when the value is missing or no number.
    static int speakerOf(const QString& buddyHandle);

    QAction* item(int index) const;
    // The menu's title item and the language submenus load() made.
    QAction* title() const { return title_; }
    const QList<QMenu*>& groups() const { return groups_; }

signals:
    // The user chose item `index`.
    void chosen(int index);

private:
    void check(int index);

    QMenu* menu_;
    QAction* title_;
    QList<QAction*> items_;
    QList<QMenu*> groups_;
};

} // namespace cfb::client
