#pragma once

#include "messaging/Confabo.h"

#include <QObject>
#include <QString>

#include <memory>

struct CliOptions;

// A signed-in session driven by text commands, one a line; every result and every event of the
// library object is written as one JSON object a line.
class CliSession : public QObject {
    Q_OBJECT

public:
    CliSession();

    // Signs in with the options; false (with the reason on stderr) when that fails.
    bool signIn(const CliOptions& options);

    // Handles one command line; returns false after "quit".
    bool handle(const QString& line);
    void signOut();

private:
    void reportUnboundDataPort();
    void commandSend(const QString& line);
    void commandFrame(const QString& line);
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

    std::unique_ptr<cfb::Confabo> confabo_;
    bool signedOut_ = false;
    qsizetype lastFrameBytes_ = 0;
};
