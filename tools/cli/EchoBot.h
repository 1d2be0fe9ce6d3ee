#pragma once

#include "messaging/Confabo.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstddef>
#include <cstdint>
#include <vector>

#include <memory>

struct CliOptions;

// A test buddy for a community: it signs in (registering its handle first when that is free),
// adds whoever writes to it as a buddy, answers each message by quoting it, and sends every
// frame straight back to its sender; it answers its buddies' calls and plays back what it heard a
// second later (the echo test call). Each thing it does is written as one JSON object a line.
class EchoBot : public QObject {
    Q_OBJECT

public:
    static constexpr int MaxQuoted = 200; // characters of a message quoted in the answer
    static constexpr int MaxFramesWaiting = 8; // frames received but not yet sent back
    static constexpr int MaxKnownPorts = 10000;
    static constexpr int EchoDelayMs = 1000; // what a caller says comes back this much later
    static constexpr int MaxCallMs = 10 * 60 * 1000; // then the bot hangs up, free for the next

    EchoBot();

    // Registers the handle when it is free and signs in; false (with the reason on stderr) when
    // the service cannot be reached or the sign-in is refused.
    bool start(const CliOptions& options);
    void signOut();

    // The answer to a message: the message quoted, cut short when long.
    static QString answerTo(const QString& text);

private:
    void onMessage(const QString& from, int16_t port, const QString& text);
    void onFrame(const QString& from, const QByteArray& frame);
    // The sender as a buddy, added at the service when it is not one yet; nullptr when the
    // service does not know the handle.
    std::shared_ptr<cfb::Buddy> befriend(const QString& handle);
    int16_t portOf(const QString& handle) const;
    void connectCalls();

    // The sound heard, a second of it: each frame captured is the one played EchoDelayMs before.
    std::vector<int16_t> echo_;
    std::size_t echoAt_ = 0;
    QTimer callLimit_;

    std::unique_ptr<cfb::Confabo> confabo_;
    QHash<QString, int16_t> ports_; // the data port each sender named in its last message
    int framesWaiting_ = 0;
    bool signedIn_ = false;
};
