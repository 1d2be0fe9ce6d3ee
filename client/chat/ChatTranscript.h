#pragma once

#include <QDateTime>
#include <QImage>
#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>

namespace cfb::client {

// What was said with one buddy, in order: the one record the main window's tab and the buddy's
// detached window both show, so that a line added in either appears in both. Besides the lines
// of the two users it holds the client's own notices about the conversation (a buddy's key
// changed), which belong to no sender, and the pictures either of them sent.
class ChatTranscript : public QObject {
    Q_OBJECT

public:
    // What became of one of the user's own lines. Only lines on the encrypted channel are
    // acknowledged; the others (received lines, lines in the plain format) carry no mark.
    enum class Delivery { Unmarked, Pending, Delivered, NotDelivered };

    struct Line {
        QString handle; // empty for a notice
        QString message;
        bool notice = false;
        bool kept = false; // a notice the history keeps (what became of a call)
        // A picture line: the picture whole, as sent or received.
        QImage picture;
        QDateTime when;
        Delivery delivery = Delivery::Unmarked;
        // The id the line carries between the two clients: its acknowledgement names it; 0 for
        // the plain format.
        uint64_t lineId = 0;
        QDateTime deliveredAt; // invalid for a line restored from the history
        bool secure = false; // came or went over the encrypted channel
        bool isPicture() const { return !picture.isNull(); }
        // "<handle>: <message>", or a notice's text alone; empty for a picture.
        QString text() const;
    };

    // Adds "<handle>: <message>" and tells the views. secure: it came over the encrypted channel.
    // written: when its sender wrote it (a line that waited in the mailbox), else now. lineId: the
    // id it came with (kept in the history, so that it is recognised when it comes again).
    void append(const QString& handle, const QString& message, bool secure = false, const QDateTime& written = {},
        uint64_t lineId = 0);
    // Adds one of the user's own lines as it was sent: Pending with the id whose acknowledgement
    // marks it Delivered, NotDelivered when it could not go at all, Unmarked when nobody will
    // acknowledge it. A line with an id went over the encrypted channel.
    void appendOwn(const QString& handle, const QString& message, Delivery delivery, uint64_t lineId = 0);
    // Adds a notice of the client's own.
    void appendNotice(const QString& text);
    // Adds a notice of something the two users did (a call and how it ended), which the history
    // keeps as it keeps their lines.
    void appendEvent(const QString& text);
    // The newest pictures kept whole; older ones keep only what their thumbnail needs, so a buddy
    // sending picture after picture costs a bounded amount of memory.
    static constexpr int PicturesKeptWhole = 40;
    static constexpr int KeptThumbnailSide = 320;

    // Adds a picture that handle sent (the user or the buddy), at when. A null picture adds nothing.
    void appendPicture(const QString& handle, const QImage& picture, const QDateTime& when);
    // The pending line with that id was acknowledged at `at`, or was given up on.
    void markDelivered(uint64_t lineId, const QDateTime& at);
    void markNotDelivered(uint64_t lineId);
    // Forgets every line.
    void clear();
    // Takes over the lines of an earlier transcript with the same buddy (one kept while the
    // buddy had no tab), in place of any it has.
    void restore(QList<Line> lines);
    const QList<Line>& lines() const { return lines_; }
    // One line per message, "<handle>: <message>" (a notice as its text alone), lines separated
    // by "\r\n" and no separator before the first. Pictures and delivery marks have no text.
    QString text() const;

signals:
    void lineAdded(const cfb::client::ChatTranscript::Line& line);
    // The line at that index changed its delivery mark.
    void lineChanged(qsizetype index, const cfb::client::ChatTranscript::Line& line);
    // The lines were forgotten or replaced: the views draw them anew.
    void cleared();

private:
    void add(Line line);
    void mark(uint64_t lineId, Delivery delivery, const QDateTime& at);

    QList<Line> lines_;
};

} // namespace cfb::client
