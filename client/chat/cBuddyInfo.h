#pragma once

#include "chat/ChatTranscript.h"
#include "session/SecurityMark.h"

#include <QPointer>
#include <QString>

#include <memory>

namespace cfb {
class Buddy;
}

namespace cfb::client {

class frmBuddy;
class ClientSession;

// The main window's record of one buddy tab: the buddy, the sound and video switches, the chat
// transcript and the detached chat window.
class cBuddyInfo {
public:
    // With a session, setting the buddy also creates the buddy's detached window.
    // The transcript follows the session's acknowledgements of the lines sent to the buddy.
    explicit cBuddyInfo(ClientSession* session = nullptr);
    // Closes the detached window, if there is one.
    ~cBuddyInfo();
    cBuddyInfo(const cBuddyInfo&) = delete;
    cBuddyInfo& operator=(const cBuddyInfo&) = delete;

    const std::shared_ptr<cfb::Buddy>& Buddy() const { return buddy_; }
    // Stores the buddy; when the record has no detached window yet, creates one (loaded, not
    // shown) for this buddy, showing its avatar.
    void setBuddy(std::shared_ptr<cfb::Buddy> buddy);

    bool Audio() const { return audio_; }
    void setAudio(bool on) { audio_ = on; }

    bool Video() const { return video_; }
    void setVideo(bool on) { video_ = on; }

    // The transcript, which the main window's tab and the detached window both show; Chat() is its
    // text: one line per message, "<sender>: <text>", lines separated by "\r\n" and no separator
    // before the first. The chat box colours it as it shows it.
    ChatTranscript& transcript() { return transcript_; }
    QString Chat() const { return transcript_.text(); }
    // Sends text to the buddy and adds it to the transcript under the user's own handle, marked
    // by what became of it: waiting for the buddy's acknowledgement, not delivered when it could
    // not go, unmarked in the plain format (nobody acknowledges those). Needs a session.
    void sendLine(const QString& text);

    // How the buddy's lines travel, as the tab shows it; the detached window shows it too.
    SecurityMark::State security() const { return security_; }
    void setSecurity(SecurityMark::State state);

    // Why a line to the buddy is not sent now, as the transcript says it (a busy buddy gets no
    // messages, an offline one only when their mailbox can hold it sealed); empty when it may go.
    // A line to an offline buddy waits in their mailbox: the transcript says so once the service
    // took it, and marks it delivered when the buddy took it.
    QString refusal() const;

    // The detached chat window; none for a record made without a session.
    frmBuddy* BuddyForm() const;
    // Shows the buddy's own window (titled with the handle, showing the avatar), in front.
    void showWindow();

private:
    ClientSession* session_ = nullptr;
    std::shared_ptr<cfb::Buddy> buddy_;
    bool audio_ = false;
    bool video_ = false;
    ChatTranscript transcript_;
    SecurityMark::State security_ = SecurityMark::State::Encrypted;
    QPointer<frmBuddy> buddyForm_;
};

} // namespace cfb::client
