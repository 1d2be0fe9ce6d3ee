#pragma once

#include <QWidget>

#include <functional>

class QTextEdit;

namespace cfb::client {

// A layer drawn over a text box's viewport by paint (the box's line times, its delivery marks):
// the mouse goes through it to the text, and it stays over the whole viewport as the box is
// resized, scrolled and laid out again.
class BoxOverlay : public QWidget {
public:
    BoxOverlay(QTextEdit& box, std::function<void(QWidget& overlay)> paint);

protected:
    void paintEvent(QPaintEvent*) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void(QWidget&)> paint_;
};

} // namespace cfb::client
