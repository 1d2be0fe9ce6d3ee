#pragma once

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace cfb {
class Buddy;
class Confabo;
struct Account;
} // namespace cfb

namespace cfb::client {

class MainVideo;
class ServiceThread;
class SpeechEngine;

// One signed-in session of the desktop client: the library object, who is signed in, the data
// port that messages and video use, speech and live video. The main window creates it and passes
// it to every window that works on the session, so that none reaches through the main window.
//
// The user-interface thread never waits on the service: its library object (library()) receives
// and sends datagrams and holds what the service said, and its buddies never look themselves up
// (the program's main also has that thread refuse any request outright). Requests run
// on a service thread with a library object of its own (ask(), askFrom()); each answer brings the
// signed-in state along, which library() takes over before the caller sees the result.
class ClientSession : public QObject {
    Q_OBJECT

public:
    explicit ClientSession(SpeechEngine* speech, QObject* parent = nullptr);
    ~ClientSession() override;

    // A fresh library object and service thread for the next sign-in; close() signs out (in the
    // background, waiting for it at most a moment) and forgets both.
    cfb::Confabo* open();
    void close();

    // Runs work on the service thread with its library object; back on this thread, library()
    // takes over the signed-in state the work left, and done gets the result, unless context
    // is gone by then. An error raised by work is reported as the client reports errors, under
    // the name what, and done is not called. Answers arrive in the order of the asks.
    // failed, when given, follows the report instead.
    template <typename Result>
    void ask(const char* what, QObject* context, std::function<Result(cfb::Confabo&)> work,
        std::function<void(Result)> done, std::function<void()> failed = {})
    {
        auto result = std::make_shared<Result>();
        post(
            what, context, [work = std::move(work), result](cfb::Confabo& service) { *result = work(service); },
            [done = std::move(done), failed = std::move(failed), result](bool ok) {
                if (ok)
                    done(std::move(*result));
                else if (failed)
                    failed();
            });
    }
    // ask(), started from a control the user clicked: control is disabled and shows a busy cursor
    // until the answer comes (or fails, or the session closes), so that a second click does not
    // ask again; it is also the context, so nothing is answered to a control that is gone.
    template <typename Result>
    void askFrom(const char* what, QWidget* control, std::function<Result(cfb::Confabo&)> work,
        std::function<void(Result)> done, std::function<void()> failed = {})
    {
        auto busy = std::make_shared<BusyControl>(*this, control);
        ask<Result>(
            what, control, std::move(work),
            [busy, done = std::move(done)](Result result) {
                busy->release();
                done(std::move(result));
            },
            [busy, failed = std::move(failed)] {
                busy->release();
                if (failed)
                    failed();
            });
    }
    // Sends a message to the user from the signed-in user, from the data port, naming it as both
    // the video and the data port. False when the user is not available (as the last lookup
    // found) or nobody is signed in; a send that fails on the way is not seen.
    bool sendMessage(cfb::Buddy& to, const QString& text);
    // What became of a line sendLine() sent: sent is false when it could not go at all; id names
    // the acknowledgement (lineDelivered) or the giving up (lineNotDelivered) to come, 0 when none
    // will come because the line went in the plain format, which nobody acknowledges.
    struct SentLine {
        bool sent = false;
        uint64_t id = 0;
        bool queued = false; // left in the offline buddy's mailbox: lineQueued or lineRefused follows
    };
    // sendMessage(), telling what became of the line; a line to an offline buddy goes to their
    // mailbox when canLeaveMail().
    SentLine sendLine(cfb::Buddy& to, const QString& text);
    // Whether lines to the buddy, offline, can wait in their mailbox (both sides have keys).
    bool canLeaveMail(cfb::Buddy& buddy);
    // When the last message from handle was written, for one that waited in the mailbox;
    // invalid for one that came directly.
    QDateTime lastArrivalWritten(const QString& handle) const { return writtenAt_.value(handle.toCaseFolded()); }
    // The id the last encrypted line from handle carried (0 for the plain format): kept with the
    // line, so that the same line coming again after a restart is recognised (setShownBefore).
    uint64_t lastArrivalId(const QString& handle) const { return arrivalIds_.value(handle.toCaseFolded()); }
    // Asked by each library object before it shows an encrypted line (see Confabo::setShownBefore).
    void setShownBefore(std::function<bool(const QString& handle, uint64_t id)> shownBefore) { shownBefore_ = std::move(shownBefore); }
    // Requests asked and not answered yet.
    int pending() const { return pending_; }
    // How long close() waits for the service thread's sign-out (milliseconds).
    static constexpr int SignOutWaitMs = 1500;
    // Null before open() and after close().
    cfb::Confabo* library() const { return confabo_.get(); }

    QString handle() const { return handle_; }
    void setHandle(const QString& handle) { handle_ = handle; }

    // Whether the last message from handle (as messageReceived handed it on) came over the
    // encrypted channel from the key known for its sender.
    bool lastArrivalSecure(const QString& handle) const { return secureSenders_.contains(handle.toCaseFolded()); }

    // Whether incoming messages are read aloud.
    bool speakIt() const { return speakIt_; }
    void setSpeakIt(bool on) { speakIt_ = on; }
    SpeechEngine* speech() const { return speech_; }

    // The main window's live video; null until its picture box exists.
    MainVideo* video() const { return video_; }
    void setVideo(MainVideo* video) { video_ = video; }

    // The data port messages and video name: the bound port, or the configured one when it could
    // not be bound (every buddy listens there).
    int16_t dataPort() const { return dataPort_; }
    // Looks at the library's receiving socket after open(): fills dataPort() and, when the port
    // could not be bound, dataPortProblem() with what the user is told.
    void checkDataPort();
    QString dataPortProblem() const { return dataPortProblem_; }
    // Listens on another data port; on failure keeps the old socket and says why in reason.
    bool rebindDataPort(const QString& portText, QString* reason);

    // The client's window the user works in now (the tray's "Open..." brings it forward).
    QWidget* currentWindow() const { return currentWindow_; }
    void setCurrentWindow(QWidget* window) { currentWindow_ = window; }

    // The program's Yes/No question (modMain::PopupMsgBox: 6 for Yes, 7 for No), waiting for its
    // answer while other events run; questionsOpen(true) comes as the first of the questions open
    // at a time opens, questionsOpen(false) once the last of them has returned.
    int popupQuestion(const QString& prompt, const QString& title, int helpContext, bool* dontAskAgain = nullptr);

signals:
    // A message from another user arrived, handed on from the event loop once the datagram's own
    // handling is over, so that a question asked about it does not hold up what arrives meanwhile.
    void messageReceived(const QString& fromHandle, const QString& fromEmail, int16_t videoPort, const QString& text);
    // The library's KeyChanged and PlainRefused, handed on the same way: they are raised while a
    // buddy's security is looked at (a send, a tab being drawn), where no question may be asked.
    void keyChanged(const QString& handle, bool verified);
    void plainRefused(const QString& handle);
    // The library's file transfers, handed on the same way (see Confabo's File signals).
    void fileOffered(const QString& handle, uint32_t id, const QString& name, qint64 size, bool picture);
    void fileProgress(const QString& handle, uint32_t id, bool incoming, qint64 done, qint64 total);
    void fileFinished(const QString& handle, uint32_t id, bool incoming, const QString& path, const QString& sha256);
    void fileFailed(const QString& handle, uint32_t id, bool incoming, const QString& reason);
    // The library's calls, handed on the same way (see Confabo's Call signals), so that the
    // question of an incoming call is asked from the event loop.
    void callIncoming(const QString& handle);
    void callStarted(const QString& handle);
    void callEnded(const QString& handle, const QString& reason);
    // A window other than the main one asks to call the buddy, or to hang up the call with them.
    void callWanted(const QString& handle);
    // The buddy acknowledged the line sendLine() gave that id, or the library gave up on it.
    void lineDelivered(const QString& handle, uint64_t id);
    void lineNotDelivered(const QString& handle, uint64_t id);
    // A line to an offline buddy waits in their mailbox; or the service would not keep it, and
    // why ("bertram's mailbox is full.").
    void lineQueued(const QString& handle, uint64_t id);
    void lineRefused(const QString& handle, uint64_t id, const QString& reason);
    // True once a request has waited on the service for a second, false when none waits.
    void serviceSlow(bool slow);
    // close() ended the session: the requests still unanswered get no answer.
    void closed();
    // An editor changed the buddy or block list: the views of the lists reload.
    void buddyListsChanged();
    // A buddy left the buddy list: its record and views go.
    void buddyRemoved(const QString& handle);
    // The library object began taking this user's mail (once per sign-in): lines may be left in
    // mailboxes now.
    void mailStarted();
    // A window other than the main one asks for a conversation with the buddy (online or not):
    // the buddy's tab opens and is selected.
    void conversationWanted(const QString& handle);
    // A buddy's sound or video switch changed outside the main window.
    void buddySwitchesChanged();
    // A window other than the main one asks for files to go to the buddy: these paths, or the
    // ones the user chooses (over window) when there are none.
    void filesToSend(QWidget* window, const QString& handle, const QStringList& paths);
    // Whether a question of popupQuestion() waits for its answer (the tray's "Open..." does not
    // open the window meanwhile).
    void questionsOpen(bool open);
    // The video source changed: live video restarts on it.
    void videoSourceChanged();
    // The text describing the video format, for the status bar.
    void videoFormatShown(const QString& text);

private:
    class Replies;
    // The control of an askFrom(), disabled with a busy cursor until release() (at the latest
    // when the session closes).
    class BusyControl {
    public:
        BusyControl(ClientSession& session, QWidget* control);
        ~BusyControl();
        BusyControl(const BusyControl&) = delete;
        BusyControl& operator=(const BusyControl&) = delete;
        void release();

    private:
        QPointer<QWidget> control_;
        bool wasEnabled_ = false;
        bool released_ = false;
        QMetaObject::Connection closed_;
    };
    // done(true) after work ran, done(false) after it raised an error (already reported).
    void post(
        const char* what, QObject* context, std::function<void(cfb::Confabo&)> work, std::function<void(bool)> done);
    // Reports the error work raised, if any, then calls done unless context is gone.
    void answered(const cfb::Account& account, const std::exception_ptr& error, const char* what,
        const QPointer<QObject>& context, const std::function<void(bool)>& done);
    void stopServiceThread();

    SpeechEngine* speech_;
    ServiceThread* service_ = nullptr;
    Replies* replies_ = nullptr; // where answers arrive; outlives a service thread left running
    int pending_ = 0;
    QTimer slowTimer_;
    bool slow_ = false;
    std::unique_ptr<cfb::Confabo> confabo_;
    QString handle_;
    QSet<QString> secureSenders_; // case-folded; only users with a key get in
    QHash<QString, QDateTime> writtenAt_; // case-folded
    QHash<QString, uint64_t> arrivalIds_; // case-folded
    std::function<bool(const QString&, uint64_t)> shownBefore_;
    bool mailStarted_ = false;
    bool speakIt_ = true;
    MainVideo* video_ = nullptr;
    int16_t dataPort_ = 0;
    QString dataPortProblem_;
    QPointer<QWidget> currentWindow_;
    int openQuestions_ = 0;
};

} // namespace cfb::client
