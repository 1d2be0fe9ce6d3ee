#pragma once

#include "chat/ChatTranscript.h"

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <functional>

class QTextBlock;
class QTextEdit;

namespace cfb::client {

// The marks beside the user's own lines in a chat box: a check mark once the buddy acknowledged
// the line (the time in its tooltip), "not delivered" once the line was given up on. They are
// drawn over the box, not written into its text, so the text reads as the transcript's.
class DeliveryMarks : public QObject {
    Q_OBJECT
public:
    // lineOf gives the transcript line a block of the box ends, or nullptr.
    DeliveryMarks(QTextEdit& box, std::function<const ChatTranscript::Line*(const QTextBlock&)> lineOf,
        QObject* parent = nullptr);

    // Draws the marks again (a line's mark changed).
    void update();

    static QString toolTip(const ChatTranscript::Line& line);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Calls each(line, where its mark goes) for every marked line in sight.
    void forEachVisible(const std::function<void(const ChatTranscript::Line&, const QRect&)>& each) const;
    void paint(QWidget& overlay) const;

    QPointer<QTextEdit> box_;
    std::function<const ChatTranscript::Line*(const QTextBlock&)> lineOf_;
    QWidget* overlay_ = nullptr;
};

} // namespace cfb::client
