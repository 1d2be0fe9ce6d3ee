#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>

namespace cfb {
class Confabo;
} // namespace cfb

namespace cfb::client {

class MainVideo;
class SpeechEngine;

// One signed-in session of the desktop client: the library object, who is signed in, the data
// port that messages and video use, speech and live video. The main window creates it and passes
// it to every window that works on the session, so that none reaches through the main window.
// Every window gets the library object from library() here and from nowhere else, so that giving
// this class the service requests themselves, and a thread of its own to run them on, is a change
// that starts in this one place.
class ClientSession : public QObject {
    Q_OBJECT

public:
    explicit ClientSession(SpeechEngine* speech, QObject* parent = nullptr);
    ~ClientSession() override;

    // A fresh library object for the next sign-in; close() signs out and forgets it.
    cfb::Confabo* open();
    void close();
    // Null before open() and after close().
    cfb::Confabo* library() const { return confabo_.get(); }

    QString handle() const { return handle_; }
    void setHandle(const QString& handle) { handle_ = handle; }

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

signals:
    // An editor changed the buddy or block list: the views of the lists reload.
    void buddyListsChanged();
    // A buddy left the buddy list: its record and views go.
    void buddyRemoved(const QString& handle);
    // A buddy's sound or video switch changed outside the main window.
    void buddySwitchesChanged();
    // The video source changed: live video restarts on it.
    void videoSourceChanged();
    // The text describing the video format, for the status bar.
    void videoFormatShown(const QString& text);

private:
    SpeechEngine* speech_;
    std::unique_ptr<cfb::Confabo> confabo_;
    QString handle_;
    bool speakIt_ = true;
    MainVideo* video_ = nullptr;
    int16_t dataPort_ = 0;
    QString dataPortProblem_;
    QPointer<QWidget> currentWindow_;
};

} // namespace cfb::client
