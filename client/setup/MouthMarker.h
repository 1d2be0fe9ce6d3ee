#pragma once

#include <QPoint>
#include <QRect>
#include <QWidget>

namespace cfb::client {

// The mouth marker of the setup dialog: a small picture of lips over the avatar that the user
// drags with the left button to show where the avatar's mouth is. It stays strictly inside the
// avatar's picture.
class MouthMarker : public QWidget {
    Q_OBJECT
public:
    static constexpr int Width = 40;
    static constexpr int Height = 16;

    // avatar is the picture the marker sits on; both share a parent.
    MouthMarker(QWidget* avatar, QWidget* parent);

    // Where a drag takes the marker, with the pointer at `pointer` inside it: on each axis the
    // marker's corner moves to the pointer only when that lies beyond the avatar's near edge and
    // short of its far edge less the marker's size; on a limit it stays where it was.
    static QPoint dragged(const QRect& avatar, const QRect& marker, QPoint pointer);

signals:
    void moved();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QWidget* avatar_;
};

} // namespace cfb::client
