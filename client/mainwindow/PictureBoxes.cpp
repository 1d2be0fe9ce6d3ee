#include "mainwindow/PictureBoxes.h"

#include "chat/MouthPlacement.h"
#include "messaging/Buddy.h"
#include "speech/MouthWidget.h"

#include <QLabel>
#include <QPixmap>

#include <optional>

namespace cfb::client {

PictureBoxes::PictureBoxes(QLabel& video, QLabel& picture, QLabel& buddy)
    : video_(video)
    , picture_(picture)
    , buddy_(buddy)
    , mouth_(new MouthWidget(&buddy))
{
    mouth_->setObjectName(QStringLiteral("mouth"));
    mouth_->hide();
}

void PictureBoxes::show(QLabel* box, const QImage& picture)
{
    if (picture.isNull())
        pictures_.remove(box);
    else
        pictures_.insert(box, picture);
    refresh();
}

void PictureBoxes::refresh()
{
    for (QLabel* box : {&video_, &picture_, &buddy_}) {
        const QImage picture = pictures_.value(box);
        if (picture.isNull()) {
            box->clear();
            continue;
        }
        const QSize room = box->size() - QSize(4, 4);
        box->setPixmap(QPixmap::fromImage(
            picture.scaled(room.expandedTo(QSize(1, 1)), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    }
    placeMouth();
}

void PictureBoxes::showBuddy(cfb::Buddy& buddy, bool videoOn)
{
    show(&buddy_, buddy.Avatar());
    if (videoOn)
        hideMouth();
    else
        showMouthFor(buddy);
}

void PictureBoxes::showMouthFor(cfb::Buddy& buddy)
{
    const std::optional<QPoint> mouth = MouthPlacement::mouthOn(buddy);
    if (!mouth) {
        hideMouth();
        return;
    }
    mouthTwips_ = *mouth;
    mouthAvatarSize_ = buddy.Avatar().size();
    mouthShown_ = true;
    placeMouth();
}

void PictureBoxes::hideMouth()
{
    mouthShown_ = false;
    mouth_->hide();
}

void PictureBoxes::placeMouth()
{
    if (!mouthShown_) {
        mouth_->hide();
        return;
    }
    MouthPlacement::placeOver(*mouth_, buddy_, mouthAvatarSize_, mouthTwips_.x(), mouthTwips_.y());
    mouth_->show();
}

} // namespace cfb::client
