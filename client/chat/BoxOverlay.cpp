#include "chat/BoxOverlay.h"

#include <QAbstractTextDocumentLayout>
#include <QEvent>
#include <QScrollBar>
#include <QTextDocument>
#include <QTextEdit>

namespace cfb::client {

BoxOverlay::BoxOverlay(QTextEdit& box, std::function<void(QWidget& overlay)> paint)
    : QWidget(box.viewport())
    , paint_(std::move(paint))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setGeometry(box.viewport()->rect());
    box.viewport()->installEventFilter(this);
    // Scrolling the box moves the viewport's children with its text: the overlay goes back over
    // the whole viewport, or it would leave the view after the first scroll.
    const auto followScroll = [this] {
        move(0, 0);
        update();
    };
    connect(box.verticalScrollBar(), &QScrollBar::valueChanged, this, followScroll);
    connect(box.horizontalScrollBar(), &QScrollBar::valueChanged, this, followScroll);
    connect(box.document(), &QTextDocument::contentsChanged, this, qOverload<>(&QWidget::update));
    // The text is laid out after it changed (a picture's line later still).
    connect(box.document()->documentLayout(), &QAbstractTextDocumentLayout::update, this,
        qOverload<>(&QWidget::update));
    show();
}

void BoxOverlay::paintEvent(QPaintEvent*)
{
    paint_(*this);
}

bool BoxOverlay::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

} // namespace cfb::client
