#pragma once

#include "transport/Reachability.h"

#include <QWidget>

namespace cfb::client {

// The status bar's right end: a coloured dot (green when buddies can reach this client, amber
// when only those it contacted can) and as much of the reachability text as the room the
// panels leave allows, ending in "...". The whole text is the tooltip.
class ReachabilityLabel : public QWidget {
public:
    explicit ReachabilityLabel(QWidget* parent = nullptr);

    void setReachability(const Reachability& now);
    QString text() const { return now_.text(); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int dotSize() const;

    Reachability now_;
};

} // namespace cfb::client
