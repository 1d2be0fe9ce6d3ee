#pragma once

#include "chat/ChatTranscript.h"

#include <QDate>
#include <QObject>
#include <QPointer>

#include <functional>

class QFont;
class QTextBlock;
class QTextEdit;
class QWidget;

namespace cfb::client {

// When each line of a chat box was said, as messengers show it: the time in a narrow column left
// of each line, and above the first line of each day a band that names the day ("Today",
// "Yesterday", the weekday within the week, else the date). Like the delivery marks they are
// drawn over the box, not written into its text: the box keeps room for them with its blocks'
// margins (see marginFor), and its text reads as the transcript's.
class LineTimes : public QObject {
public:
    // Where a block of the box stands in its transcript line.
    struct Place {
        const ChatTranscript::Line* line = nullptr;
        bool first = false; // the line's first block: its time is drawn beside it
    };
    LineTimes(QTextEdit& box, std::function<Place(const QTextBlock&)> placeOf, QObject* parent = nullptr);

    // The room a block keeps left of it for the times, and above it for a day's band.
    static int timeColumn(const QFont& font);
    static int dayBand(const QFont& font);
    // The day's name as the band shows it, seen from today.
    static QString dayName(const QDate& day, const QDate& today = QDate::currentDate());
    static QString timeText(const QDateTime& when);

    void update();

private:
    void paint(QWidget& overlay) const;

    QPointer<QTextEdit> box_;
    std::function<Place(const QTextBlock&)> placeOf_;
    QWidget* overlay_ = nullptr;
};

} // namespace cfb::client
