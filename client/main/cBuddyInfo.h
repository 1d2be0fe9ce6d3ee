#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>

namespace cfb {
class Buddy;
}

namespace cfb::client {

// The main window's record of one buddy tab: the buddy, the sound and video switches, the chat
// transcript and the detached chat window.
class cBuddyInfo {
public:
    cBuddyInfo() = default;
    // Closes the detached window, if there is one.
    ~cBuddyInfo();
    cBuddyInfo(const cBuddyInfo&) = delete;
    cBuddyInfo& operator=(const cBuddyInfo&) = delete;

    const std::shared_ptr<cfb::Buddy>& Buddy() const { return buddy_; }
    void setBuddy(std::shared_ptr<cfb::Buddy> buddy) { buddy_ = std::move(buddy); }

    bool Audio() const { return audio_; }
    void setAudio(bool on) { audio_ = on; }

    bool Video() const { return video_; }
    void setVideo(bool on) { video_ = on; }

    // The transcript in the chat box's rich-text form.
    QString Chat() const { return chat_; }
    void setChat(const QString& html) { chat_ = html; }

    // The detached chat window; none until the chat window exists.
    QWidget* BuddyForm() const { return buddyForm_; }
    void setBuddyForm(QWidget* form) { buddyForm_ = form; }

private:
    std::shared_ptr<cfb::Buddy> buddy_;
    bool audio_ = false;
    bool video_ = false;
    QString chat_;
    QPointer<QWidget> buddyForm_;
};

} // namespace cfb::client
