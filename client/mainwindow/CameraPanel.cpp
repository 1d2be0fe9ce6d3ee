#include "mainwindow/CameraPanel.h"

#include "ui_frmMain.h"

#include "mainwindow/StatusPanels.h"
#include "session/ClientSession.h"
#include "video/MainVideo.h"

namespace cfb::client {

CameraPanel::CameraPanel(Ui::frmMain& ui, const VideoAddress& address, ClientSession& session, StatusPanels& panels,
    std::function<void()> showOwnAvatar, QObject* parent)
    : QObject(parent)
    , ui_(ui)
    , session_(session)
    , panels_(panels)
    , showOwnAvatar_(std::move(showOwnAvatar))
    , video_(new MainVideo(address, ui.picVideo, this))
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
    ui_.toolVideo->setEnabled(false);
    ui_.mnuVideo->setEnabled(false);
    panels_.setText(StatusPanels::VideoFormat, QStringLiteral("(No Video)"));
    showOwnAvatar_();
    ui_.picVideo->raise();
}

} // namespace cfb::client
