#pragma once

#include "chat/ChatTranscript.h"

#include <QObject>
#include <QPointer>
#include <QString>

class QPlainTextEdit;
class QTextDocument;
class QTextEdit;

namespace cfb::client {

class ClientSession;

// Shows the newest lines of one ChatTranscript in a text box and follows it: each line the
// transcript gains is added to the end of the box, never by drawing the whole transcript again,
// and the oldest lines leave the box once it holds MaxBlocks lines or MaxCharacters characters
// (the transcript itself keeps them). A buddy sending long lines as fast as the network carries
// them then costs the box a bounded amount of text to lay out and keep.
class TranscriptView : public QObject {
    Q_OBJECT

public:
    static constexpr int MaxBlocks = 1000;
    // Four of the longest lines a datagram carries.
    static constexpr int MaxCharacters = 256 * 1024;

    // The main window's rich-text box: every line coloured by its beginning, the user's own lines
    // ("<own handle>:") red and the others blue, the client's notices grey and slanted; the first
    // line has no line break before it.
    TranscriptView(QTextEdit* box, const ClientSession& session, QObject* parent = nullptr);
    // The detached window's plain-text box: every line begins with a line break, the first too;
    // coloured as the rich box is.
    TranscriptView(QPlainTextEdit* box, const ClientSession& session, QObject* parent = nullptr);

    // Shows transcript (nothing for nullptr) and follows it from now on; showing the transcript
    // already followed again changes nothing.
    void follow(ChatTranscript* transcript);

private:
    TranscriptView(QTextEdit* richBox, QPlainTextEdit* plainBox, const ClientSession* session, QObject* parent);

    QTextDocument* document() const;
    void show();
    void append(const ChatTranscript::Line& line);
    void addLine(const ChatTranscript::Line& line);
    void trim();
    void scrollToEnd();

    // One of the two boxes.
    QPointer<QTextEdit> richBox_;
    QPointer<QPlainTextEdit> plainBox_;
    const ClientSession* session_; // the own handle, for the colours
    QPointer<ChatTranscript> transcript_;
    QList<QMetaObject::Connection> connections_;
};

} // namespace cfb::client
