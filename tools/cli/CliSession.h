#pragma once

#include "CallAudioFiles.h"

#include "messaging/Confabo.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class CliHistory;
struct CliOptions;

namespace cfb {
class PortMapper;
}

// A signed-in session driven by text commands, one a line; every result and every event of the
// library object is written as one JSON object a line.
class CliSession : public QObject {
    Q_OBJECT

public:
    CliSession();
    ~CliSession() override;

    // The call options (--audio-in, --audio-out, --ring-seconds), before signing in; false with
    // the reason in error when one cannot be used.
    bool setCallOptions(const CliOptions& options, QString& error);
    // Signs in with the options; false (with the reason on stderr) when that fails.
    bool signIn(const CliOptions& options);

    // Handles one command line; returns false after "quit".
    bool handle(const QString& line);
    void signOut();

private:
    void reportUnboundDataPort();
    // Asks the router to forward the data port and prints how buddies reach this session.
    void startPortMapping();
    // Looks every buddy up, so that the way to the online ones is kept open.
    void pollBuddies();
    void commandSend(const QString& line);
    void commandFrame(const QString& line);
    // "file [--port N] HANDLE PATH" offers a file; "cancel ID" stops a transfer either way.
    void commandFile(const QString& line);
    void commandCancel(const QStringList& words);
    // Files offered by buddies are saved here without asking, under a name not yet taken.
    void acceptFile(const QString& handle, uint32_t id, const QString& name);
    // "[--port N] HANDLE REST": the peer's data port (this client's own by default), the handle
    // and the rest of the line as typed; false after reporting a malformed line.
    bool peerArguments(const QString& command, const QString& line, int16_t& port, QString& handle, QString& rest);
    std::shared_ptr<cfb::Buddy> buddyOrStranger(const QString& handle);
    int16_t ownDataPort() const;
    void commandStatus(const QStringList& words);
    void commandBuddies();
    void commandAdd(const QStringList& words);
    void commandRemove(const QStringList& words);
    void commandBlock(const QStringList& words, bool block);
    void commandOnline();
    void commandSafety(const QStringList& words);
    // "verify HANDLE" marks the buddy's key as compared; "forget-key HANDLE" forgets it.
    void commandKey(const QStringList& words);
    // "call [--port N] HANDLE"; "answer", "decline" and "hangup" the call there is.
    void commandCall(const QStringList& words);
    void commandCallAction(const QString& command);
    void connectCalls();

    std::unique_ptr<cfb::Confabo> confabo_;
    std::unique_ptr<cfb::PortMapper> mapper_;
    std::unique_ptr<CliHistory> history_; // from sign-in on
    QTimer buddyPoll_;
    bool signedOut_ = false;
    qsizetype lastFrameBytes_ = 0;
    QString downloads_;
    CallAudioFiles callAudio_;
};
