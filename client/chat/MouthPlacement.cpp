#include "chat/MouthPlacement.h"

#include "common/Twips.h"

#include "messaging/Buddy.h"
#include "speech/MouthWidget.h"

#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QStyle>

#include <cmath>

namespace cfb::client {

std::optional<QPoint> MouthPlacement::mouthOn(Buddy& buddy)
{
    const QImage& avatar = buddy.Avatar();
    if (avatar.isNull())
        return std::nullopt;
    if (buddy.usesDefaultAvatar())
        return DefaultAvatarMouth;
    const QPoint mouth(buddy.MouthLeft(), buddy.MouthTop());
    const QRect picture(QPoint(0, 0), avatar.size() * TwipsPerPixel);
    if (mouth.isNull() || !picture.contains(mouth))
        return std::nullopt;
    return mouth;
}

void MouthPlacement::placeOver(
    MouthWidget& mouth, QLabel& picture, QSize avatarSize, int mouthLeftTwips, int mouthTopTwips)
{
    if (mouth.parentWidget() != &picture)
        mouth.setParent(&picture);
    const QPixmap shown = picture.pixmap();
    QSize size = shown.isNull() ? avatarSize : shown.deviceIndependentSize().toSize();
    if (!avatarSize.isValid() || avatarSize.isEmpty())
        avatarSize = size;
    const qreal scale = avatarSize.width() > 0 ? qreal(size.width()) / avatarSize.width() : 1.0;
    const QRect shownAt
        = QStyle::alignedRect(picture.layoutDirection(), picture.alignment(), size, picture.contentsRect());
    mouth.resize(std::max(4, int(std::lround(MouthWidget::DefaultWidth * scale))),
        std::max(2, int(std::lround(MouthWidget::DefaultHeight * scale))));
    mouth.placeOver(
        shownAt.topLeft(), int(std::lround(mouthLeftTwips * scale)), int(std::lround(mouthTopTwips * scale)));
    mouth.raise();
}

} // namespace cfb::client
