#include "resources/ClientResources.h"

#include <QPainter>

// Q_INIT_RESOURCE must be called outside any namespace.
static void initConfaboResources()
{
    Q_INIT_RESOURCE(confabo);
}

namespace cfb::client {

void loadClientResources()
{
    static const bool loaded = [] {
        initConfaboResources();
        return true;
    }();
    (void)loaded;
}

QIcon applicationIcon()
{
    loadClientResources();
    // Drawn pictures, so the icon needs no SVG plug-in.
    QIcon icon;
    icon.addFile(QStringLiteral(":/confabo-48.png"), QSize(48, 48));
    icon.addFile(QStringLiteral(":/confabo-256.png"), QSize(256, 256));
    return icon;
}

QImage defaultAvatar()
{
    QImage picture(142, 139, QImage::Format_RGB32);
    picture.fill(QColor(214, 228, 240));
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(96, 120, 150));
    painter.drawEllipse(QRectF(21, 100, 100, 80)); // shoulders
    painter.setBrush(QColor(238, 204, 170));
    painter.drawRect(QRectF(61, 86, 20, 20)); // neck
    painter.drawEllipse(QRectF(41, 18, 60, 76)); // face
    painter.setBrush(QColor(90, 60, 40));
    painter.drawChord(QRectF(39, 12, 64, 50), 0, 180 * 16); // hair
    painter.setBrush(QColor(60, 60, 70));
    painter.drawEllipse(QRectF(56, 50, 8, 6));
    painter.drawEllipse(QRectF(78, 50, 8, 6));
    return picture;
}

} // namespace cfb::client
