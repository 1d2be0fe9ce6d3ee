#pragma once

#include <QObject>
#include <QString>

#include <functional>

namespace Ui {
class frmMain;
}

namespace cfb::client {

class ClientSession;
class MainVideo;
class StatusPanels;
class VideoAddress;

// The main window's own video: the capture source and its preview in the video box, the format
// panel, and what the window shows without a camera (the "Video" buttons off, "(No Video)", the
// user's avatar in the video box).
class CameraPanel : public QObject {
public:
    CameraPanel(Ui::frmMain& ui, const VideoAddress& address, ClientSession& session, StatusPanels& panels,
        std::function<void()> showOwnAvatar, QObject* parent);

    MainVideo* video() const { return video_; }
    bool available() const { return available_; }

    // Starts the source the option names (`--video-source`; the "Video Source" setting when
    // empty). False when there is none.
    bool start(const QString& sourceOption);
    // Makes the source anew from the setting, keeping whether frames were being sent.
    bool restart();

private:
    void showAvailable();

    Ui::frmMain& ui_;
    ClientSession& session_;
    StatusPanels& panels_;
    std::function<void()> showOwnAvatar_;
    MainVideo* video_;
    bool available_ = false;
};

} // namespace cfb::client
