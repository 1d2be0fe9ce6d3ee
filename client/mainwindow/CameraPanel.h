#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QAction;
class QWidget;

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
    // The video box, and the "Video" button and menu item that turn sending on.
    struct Controls {
        QWidget* picture;
        QAction* videoButton;
        QAction* videoItem;
    };

    CameraPanel(Controls controls, const VideoAddress& address, ClientSession& session, StatusPanels& panels,
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

    Controls controls_;
    ClientSession& session_;
    StatusPanels& panels_;
    std::function<void()> showOwnAvatar_;
    MainVideo* video_;
    bool available_ = false;
};

} // namespace cfb::client
