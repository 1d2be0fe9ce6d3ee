#pragma once

#include <QList>
#include <QObject>
#include <QString>

namespace cfb::client {

// What was said with one buddy, in order: the one record the main window's tab and the buddy's
// detached window both show, so that a line added in either appears in both. Besides the lines
// of the two users it holds the client's own notices about the conversation (a buddy's key
// changed), which belong to no sender.
class ChatTranscript : public QObject {
    Q_OBJECT

public:
    struct Line {
        QString handle; // empty for a notice
        QString message;
        bool notice = false;
        // "<handle>: <message>", or a notice's text alone.
        QString text() const;
    };

    // Adds "<handle>: <message>" and tells the views.
    void append(const QString& handle, const QString& message);
    // Adds a notice of the client's own.
    void appendNotice(const QString& text);
    // Forgets every line.
    void clear();
    // Takes over the lines of an earlier transcript with the same buddy (one kept while the
    // buddy had no tab), in place of any it has.
    void restore(QList<Line> lines);
    const QList<Line>& lines() const { return lines_; }
    // One line per message, "<handle>: <message>" (a notice as its text alone), lines separated
    // by "\r\n" and no separator before the first.
    QString text() const;

signals:
    void lineAdded(const cfb::client::ChatTranscript::Line& line);
    // The lines were forgotten or replaced: the views draw them anew.
    void cleared();

private:
    QList<Line> lines_;
};

} // namespace cfb::client
