#include "mainwindow/CameraPanel.h"

#include "mainwindow/StatusPanels.h"
#include "session/ClientSession.h"
#include "video/MainVideo.h"

#include <QAction>
#include <QWidget>

namespace cfb::client {

CameraPanel::CameraPanel(Controls controls, const VideoAddress& address, ClientSession& session,
    StatusPanels& panels, std::function<void()> showOwnAvatar, QObject* parent)
    : QObject(parent)
    , controls_(controls)
    , session_(session)
    , panels_(panels)
    , showOwnAvatar_(std::move(showOwnAvatar))
    , video_(new MainVideo(address, controls.picture, this))
{
    session.setVideo(video_);
    connect(video_, &MainVideo::formatChanged, this,
        [this](const QString& text) { panels_.setText(StatusPanels::VideoFormat, text); });
}

bool CameraPanel::start(const QString& sourceOption)
{
    available_ = video_->start(sourceOption);
    panels_.setText(StatusPanels::VideoFormat, video_->formatText());
    showAvailable();
    return available_;
}

bool CameraPanel::restart()
{
    const bool wasSending = video_->isSending();
    video_->stop();
    start(QString());
    if (available_) {
        video_->setHandle(session_.handle());
        video_->setSending(wasSending);
    }
    return available_;
}

void CameraPanel::showAvailable()
{
    if (available_)
        return;
    controls_.videoButton->setEnabled(false);
    controls_.videoItem->setEnabled(false);
    panels_.setText(StatusPanels::VideoFormat, QStringLiteral("(No Video)"));
    showOwnAvatar_();
    controls_.picture->raise();
}

} // namespace cfb::client
