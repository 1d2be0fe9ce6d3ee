#pragma once

#include "session/SecurityMark.h"

#include <QImage>
#include <QTimer>
#include <QString>
#include <QWidget>

#include <memory>

class QLabel;
class QMenu;

namespace Ui {
class frmBuddy;
}

namespace cfb {
class Buddy;
}

namespace cfb::client {

class MouthWidget;
class PictureSender;
class TranscriptView;
class VoiceMenu;
class ClientSession;
class cBuddyInfo;

// The detached chat window of one buddy: the buddy's transcript (shared with the main window),
// the buddy's avatar (or the last frame received) with a speaking mouth, under it the mark of a
// buddy whose lines are not encrypted (or held back), picture and file sending (files also dropped
// on the transcript), and the popup menus
// "Speak" (on selected text) and "Voices" (on the avatar).
class frmBuddy : public QWidget {
    Q_OBJECT
public:
    // record is the main window's record of the buddy, which owns this window.
    frmBuddy(ClientSession& session, cBuddyInfo& record);
    ~frmBuddy() override;

    // The buddy this window talks to; dropped when the window closes.
    const std::shared_ptr<cfb::Buddy>& Buddy() const { return buddy_; }
    void setBuddy(std::shared_ptr<cfb::Buddy> buddy);
    // The picture that shows the buddy's avatar and received frames.
    QLabel* VideoCtl() const { return videoCtl_; }

    // Shows the buddy's avatar in the picture, with the mouth over the avatar's mouth.
    void showAvatar(const QImage& avatar);
    // Shows a received frame (or a sent picture) in the picture.
    void showFrame(const QImage& frame);
    // The mark under the picture (none for the encrypted channel), its tooltip naming handle.
    void showSecurity(SecurityMark::State state, const QString& handle);

    // The routines behind the window's buttons and menus.
    void cmdSend_Click();
    void cmdPic_Click();
    void cmdFile_Click();
    // The Call button as the buddy can be called now ("Hang Up" during a call with them).
    void showCallOffer();
    void mnuSayIt_Click();
    void mnuVoice_Click(int index);

    MouthWidget* mouth() const { return mouth_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void layoutControls();
    void showPicture(const QImage& picture);
    void placeMouth();
    void chatContextMenu(const QPoint& at);

    std::unique_ptr<Ui::frmBuddy> ui;
    ClientSession& session_;
    cBuddyInfo& record_;
    std::shared_ptr<cfb::Buddy> buddy_;
    QLabel* videoCtl_ = nullptr;
    QLabel* securityIcon_ = nullptr;
    QLabel* securityText_ = nullptr;
    QMenu* mnuSpeak_ = nullptr;
    QMenu* mnuVoices_ = nullptr;
    VoiceMenu* voices_ = nullptr;
    TranscriptView* transcriptView_ = nullptr;
    PictureSender* pictures_ = nullptr;
    MouthWidget* mouth_ = nullptr;
    QImage picture_;
    QSize avatarSize_;
    bool showingAvatar_ = false;
    QTimer callOffer_; // the Call button looks again now and then
};

} // namespace cfb::client
