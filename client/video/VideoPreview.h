#pragma once

#include "video/I420Buffer.h"
#include "video/I420Frame.h"

#include <QImage>
#include <QWidget>

namespace cfb::client {

// The live picture inside the video box: a child of the box that covers its inside and follows
// its size, showing each captured frame scaled to fit (aspect kept, centred). The scaled planes
// and the picture are kept between frames and made again only when the fitted size changes.
// Mouse events pass through to the box.
class VideoPreview : public QWidget {
    Q_OBJECT
public:
    explicit VideoPreview(QWidget* box);

    // Moves the picture into another box (the setup dialog borrows it), following that box's size.
    void setBox(QWidget* box);
    QWidget* box() const { return box_; }

    // Scales and converts the frame and repaints; nothing while the box is not visible.
    void showFrame(const I420Frame& frame);
    void clear();

    // What is painted now (null when nothing is).
    const QImage& picture() const { return picture_; }
    // How often the scaled picture was made, for a size change.
    int pictureAllocations() const { return allocations_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void followBox();

    QWidget* box_;
    I420Buffer scaled_;
    QImage picture_;
    int allocations_ = 0;
};

} // namespace cfb::client
