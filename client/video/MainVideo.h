#pragma once

#include "video/FrameSender.h"
#include "video/I420Buffer.h"
#include "video/I420Frame.h"

#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>

#include <cstdint>
#include <memory>

class QWidget;

namespace cfb {
class Buddy;
} // namespace cfb

namespace cfb::client {

class CaptureSource;
class VideoPreview;

// Where live video goes, asked at every frame: the selected buddy, the user's handle and the data
// port. The main window answers.
class VideoAddress {
public:
    virtual ~VideoAddress() = default;
    virtual cfb::Buddy* SelBuddy() const = 0;
    virtual QString handle() const = 0;
    virtual int16_t dataPort() const = 0;
};

// The main window's live video: the capture source, its preview inside the video box, and the
// per-frame hook that sends each previewed frame to the selected buddy while video is on. The
// window keeps the per-buddy switches and says when sending is on; this class reads the selected
// buddy, the user's handle and the data port from its VideoAddress at every frame.
class MainVideo : public QObject {
    Q_OBJECT
public:
    MainVideo(const VideoAddress& address, QWidget* picVideo, QObject* parent);
    ~MainVideo() override;

    // Makes the source the option names (the "Video Source" setting when empty), starts it and
    // the preview. False when there is no source or it cannot start; the reason, if any, went to
    // the event log.
    bool start(const QString& sourceOption);
    // Stops capturing and sending (the exit steps).
    void stop();

    bool hasSource() const { return source_ != nullptr; }
    CaptureSource* source() const { return source_.get(); }
    // "<width>x<height> <rate>fps" of the source, e.g. "160x120 5fps", and while VP8 goes to the
    // selected buddy what it goes at: "640x480 30fps (VP8, 480 kbit/s)".
    QString formatText() const;
    // What live video to the buddy goes as, for the user; empty for JPEG or nothing sent yet.
    static QString codecText(cfb::Buddy* buddy, const QString& handle);

    // The signed-in user, whom the test pattern names.
    void setHandle(const QString& handle);

    // The frame callback: while on (and not paused), every frame goes to the selected buddy.
    void setSending(bool on) { sending_ = on; }
    bool isSending() const { return sending_; }

    // Keeps frames from being sent for its lifetime (a message being sent); sending resumes as
    // it was.
    class Pause {
    public:
        explicit Pause(MainVideo* video);
        ~Pause();
        Pause(const Pause&) = delete;
        Pause& operator=(const Pause&) = delete;

    private:
        MainVideo* video_;
    };

    // The preview shown in another box (the setup dialog's), or back in the main window's video
    // box for nullptr.
    void showPreviewIn(QWidget* box);
    // While on, the last captured frame is kept (copied into one reused buffer) for snapshot().
    void setKeepLastFrame(bool on);
    // The last kept frame at its captured size; null when none was kept.
    QImage snapshot() const;

    const FrameSender& sender() const { return sender_; }
    FrameSender& sender() { return sender_; }
    VideoPreview* preview() const;

signals:
    // The captured size or rate changed; text as formatText().
    void formatChanged(const QString& text);

private:
    void frame(const I420Frame& frame);
    void showCodec();

    const VideoAddress& address_;
    QWidget* picVideo_;
    QPointer<VideoPreview> preview_;
    bool keepLastFrame_ = false;
    I420Buffer lastFrame_;
    std::unique_ptr<CaptureSource> source_;
    FrameSender sender_;
    bool sending_ = false;
    int paused_ = 0;
    QString codecText_;
    QElapsedTimer codecShownAt_;
    QSize shownSize_;
    int shownRate_ = 0;
};

} // namespace cfb::client
