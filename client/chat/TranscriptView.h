#pragma once

#include "chat/ChatTranscript.h"

#include <QDate>
#include <QObject>
#include <QPointer>
#include <QString>

class QTextBlock;
class QTextDocument;
class QTextEdit;

namespace cfb::client {

class ClientSession;
class DeliveryMarks;
class LineTimes;

// Shows the newest lines of one ChatTranscript in a text box and follows it: each line the
// transcript gains is added to the end of the box, never by drawing the whole transcript again,
// and the oldest lines leave the box once it holds MaxBlocks lines or MaxCharacters characters
// (the transcript itself keeps them). A buddy sending long lines as fast as the network carries
// them then costs the box a bounded amount of text to lay out and keep.
//
// A picture line shows who sent it and when above a thumbnail; a click on the thumbnail opens the
// picture at its own size, and its context menu offers "Save Picture As...". The user's own lines
// carry their delivery marks (DeliveryMarks); every line its time and each day its band (LineTimes).
class TranscriptView : public QObject {
    Q_OBJECT

public:
    static constexpr int MaxBlocks = 1000;
    // Four of the longest lines a datagram carries.
    static constexpr int MaxCharacters = 256 * 1024;
    // The largest a picture line's thumbnail is drawn: with its caption it fits the main window's chat box.
    static constexpr int ThumbnailWidth = 120;
    static constexpr int ThumbnailHeight = 90;

    // The main window's rich-text box: every line coloured by its beginning, the user's own lines
    // ("<own handle>:") red and the others blue, the client's notices grey and slanted; the first
    // line has no line break before it.
    TranscriptView(QTextEdit* box, const ClientSession& session, QObject* parent = nullptr);
    // The detached window's box, coloured as the main window's (the user's own lines have one
    // colour in both): every line begins with a line break, the first too, and is one block.
    struct Detached { };
    TranscriptView(QTextEdit* box, const ClientSession& session, Detached, QObject* parent = nullptr);

    // Shows transcript (nothing for nullptr) and follows it from now on; showing the transcript
    // already followed again changes nothing.
    void follow(ChatTranscript* transcript);

    // The picture line whose thumbnail is at pos (the box's viewport coordinates), or nullptr.
    const ChatTranscript::Line* pictureAt(const QPoint& pos) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TranscriptView(QTextEdit* box, const ClientSession* session, bool detached, QObject* parent);

    QTextDocument* document() const;
    void show();
    void append(const ChatTranscript::Line& line);
    void addLine(const ChatTranscript::Line& line, qsizetype index);
    void trim();
    void scrollToEnd();
    // The line a block ends (where its delivery mark goes), and the line at an index.
    const ChatTranscript::Line* lineOf(const QTextBlock& block) const;
    const ChatTranscript::Line* lineAt(qsizetype index) const;
    bool pictureMenu(const QPoint& pos, const QPoint& global);

    QPointer<QTextEdit> box_;
    const ClientSession* session_; // the own handle, for the colours
    bool detached_ = false;
    QPointer<ChatTranscript> transcript_;
    QList<QMetaObject::Connection> connections_;
    DeliveryMarks* marks_ = nullptr;
    LineTimes* times_ = nullptr;
    QDate lastDay_; // of the newest line shown
};

} // namespace cfb::client
