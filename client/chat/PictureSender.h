#pragma once

#include <QImage>
#include <QObject>

#include <memory>

class QWidget;

namespace cfb {
class Buddy;
}

namespace cfb::client {

class ClientSession;

// Sends picture files to a buddy, for one window: as the file itself to a buddy whose client has a
// key (up to 16 MB), else as one video frame: the file is chosen
// here, read and encoded on a worker thread, and sent from this thread once it is ready, so the
// window never waits on a large picture.
//
// A picture chosen while another is still being prepared takes its place: the older one is
// abandoned and never sent, so pictures go out one at a time, the newest last.
class PictureSender : public QObject {
    Q_OBJECT
public:
    // window owns the sender and parents the file dialog and the message boxes.
    PictureSender(ClientSession& session, QWidget* window);
    ~PictureSender() override;

    // Asks for a picture file and starts preparing it for buddy; busy (the control the user
    // clicked) shows a busy cursor until the picture is sent or given up. False when the user
    // cancelled the dialog.
    bool start(std::shared_ptr<cfb::Buddy> buddy, QWidget* busy);
    // Abandons the picture being prepared, if any: it is not sent.
    void cancel();

signals:
    // The picture is ready and goes to the buddy right after this: the window shows it.
    void sending(const QImage& picture, const QString& toHandle);

private:
    struct Job;
    void finished(const std::shared_ptr<Job>& job);
    bool sendWhole(const Job& job);
    void release(const std::shared_ptr<Job>& job);

    ClientSession& session_;
    QWidget* window_;
    std::shared_ptr<Job> job_;
};

} // namespace cfb::client
