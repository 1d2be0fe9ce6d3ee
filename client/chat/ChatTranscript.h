#pragma once

#include <QList>
#include <QObject>
#include <QString>

namespace cfb::client {

// What was said with one buddy, in order: the one record the main window's tab and the buddy's
// detached window both show, so that a line added in either appears in both.
class ChatTranscript : public QObject {
    Q_OBJECT

public:
    struct Line {
        QString handle;
        QString message;
    };

    // Adds "<handle>: <message>" and tells the views.
    void append(const QString& handle, const QString& message);
    // Forgets every line.
    void clear();
    const QList<Line>& lines() const { return lines_; }
    // One line per message, "<handle>: <message>", lines separated by "\r\n" and no separator
    // before the first.
    QString text() const;

signals:
    void lineAdded(const QString& handle, const QString& message);
    void cleared();

private:
    QList<Line> lines_;
};

} // namespace cfb::client
