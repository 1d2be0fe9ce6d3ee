#pragma once

#include "call/CallAudio.h"
#include "call/RingTone.h"

#include <QAction>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

namespace cfb {
class Buddy;
} // namespace cfb

namespace cfb::client {

class ChatTranscript;
class ClientSession;
class StatusPanels;

// The main window's part in calls: "Call" (the Buddy menu, the toolbar, a detached window's
// button) calls the selected buddy and becomes "Hang Up" while the call rings or is on; an
// incoming call rings and asks "amelia is calling you. Answer?" in the question popup (Yes
// answers, No declines; the question goes when the caller gives up). While a call is on, the
// status bar shows who with and for how long, its tooltip the call's quality, and "Mute
// Microphone" sends silence. How each call ended is a line of the buddy's conversation, kept in
// the history. The call's sound runs through CallAudio, and speech waits while it is on; how long a call rings is the "Call Ring
// Seconds" setting.
class CallControl : public QObject {
    Q_OBJECT
public:
    // The main window's call items.
    struct Controls {
        QAction* callItem; // the Buddy menu's
        QAction* callButton; // the toolbar's
        QAction* muteItem;
    };
    struct Window {
        std::function<std::shared_ptr<cfb::Buddy>()> selected;
        // The buddy's conversation record, made when there is none.
        std::function<ChatTranscript*(const QString&)> transcriptOf;
    };

    CallControl(Controls controls, ClientSession& session, StatusPanels& panels, Window hooks, QObject* parent);

    // Calls the buddy, or hangs up the call with them.
    void callOrHangUp(const QString& handle);
    // The Call items as the selected buddy can be called now.
    void showSelected();
    bool ringing() const { return ring_.ringing(); }
    bool microphoneMuted() const { return audio_.muted(); }

    // The question an incoming call asks.
    static QString question(const QString& handle);

private:
    void incoming(const QString& handle);
    void ask(const QString& handle, int call);
    void started(const QString& handle);
    void ended(const QString& handle, const QString& reason);
    void closeQuestion();
    void showCallPanel();
    QString endedText(const QString& handle, const QString& reason) const;
    void event(const QString& handle, const QString& text);
    int ringMs() const;

    Controls ui_;
    ClientSession& session_;
    StatusPanels& panels_;
    Window hooks_;
    CallAudio audio_;
    RingTone ring_;
    QTimer clock_; // the status bar's time, the Call items' state
    int ticks_ = 0;
    QElapsedTimer since_; // since the call began
    int call_ = 0; // counts the calls: an answer that comes after its call ended is dropped
    QString asking_; // the question open now, empty for none
    bool outgoing_ = false;
    bool hungUpHere_ = false;
    bool active_ = false;
};

} // namespace cfb::client
