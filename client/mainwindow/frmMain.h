#pragma once

#include "chat/VoiceMenu.h"
#include "mainwindow/BuddyTabs.h"
#include "mainwindow/MainWindowLayout.h"
#include "mainwindow/PictureBoxes.h"
#include "mainwindow/StatusPanels.h"
#include "mainwindow/TrayMenu.h"
#include "messaging/Stati.h"
#include "session/ClientSession.h"
#include "session/SessionDialogs.h"
#include "session/SignInSequence.h"
#include "video/MainVideo.h"

#include <QDateTime>
#include <QHash>
#include <QImage>
#include <QList>
#include <QMainWindow>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

class QAction;
class QLabel;

namespace Ui {
class frmMain;
}

namespace cfb {
class Buddy;
class Confabo;
} // namespace cfb

namespace cfb::client {

class BuddyTabs;
class CallControl;
class CameraPanel;
class DialogOpeners;
class StrangerInvitations;
class BuddyToolbar;
class ClientSession;
class PictureBoxes;
class PresencePoll;
class FileExchange;
class SecurityNotices;
class TransferStrip;
class MainVideo;
class TrayMenu;
class TranscriptView;
class VideoStopCaption;
class MouthWidget;
class PictureSender;
class ReceivedPictures;
class SpeechEngine;
class VoiceMenu;
class cBuddyInfo;

// The client's one long-lived window: it signs the user in, shows a tab for every buddy who is
// available now, polls the service for presence, and lives on in the notification area when the
// user closes it. It owns the client's session (the library object and what goes with it) for the
// life of the process.
class frmMain : public QMainWindow, public VideoAddress {
    Q_OBJECT
public:
    // exitProgram ends the program after the exit sequence (Unload) has run; without it, Exit and
    // a cancelled sign-in only unload the window.
    explicit frmMain(SpeechEngine* speech = nullptr, std::function<void()> exitProgram = {}, QWidget* parent = nullptr);
    ~frmMain() override;

    // Start-up steps of the main window: cipher, library object, data port, camera, the sign-in
    // sequence (RunSignInSequence), tabs, tray, shown or left in the tray. The steps after the
    // sign-in follow once the service has answered: loadEnded(true) says the window is loaded.
    // An error raised here reaches the caller, and one raised in the later steps is
    // loadEnded(false); either way the caller reports that the program failed to load. A sign-in
    // the user cancelled ends the program (exitProgram()).
    void Load();
    // Load has run to its end: signed in, tabs, tray.
    bool isSignedIn() const { return signedIn_; }
    // The exit sequence (hide, tray icon removed, Logout when not offline, CleanUp, other windows
    // closed). Runs once.
    void Unload();
    // Exit: the exit sequence, then the program ends through the constructor's exitProgram.
    void exitProgram();

    // The signed-in session every window of the client works on.
    ClientSession& session() const { return *session_; }
    // The dialogs that work on the session (Setup, the buddy-list editor, Invite).
    SessionDialogs& dialogs() const;
    cfb::Confabo* library() const { return session_->library(); }
    // The data port of this client, passed as both the video and the data port of every send.
    int16_t dataPort() const override { return session_->dataPort(); }
    // The signed-in user's handle.
    QString handle() const override { return session_->handle(); }
    bool speakIt() const { return session_->speakIt(); }
    void setSpeakIt(bool on) { session_->setSpeakIt(on); }
    // Moves the data port to another port: a new receiving socket is bound first and replaces the
    // current one only when that worked, so a port that cannot be had leaves the client listening
    // where it was. Asking for the port it listens on keeps that socket. False with the reason.
    bool rebindDataPort(const QString& portText, QString* reason);
    // The speech engine the windows speak through; nullptr when the program speaks nothing.
    SpeechEngine* speech() const { return session_->speech(); }

    // Rebuilds the tabs from the library's buddy list: one tab per available buddy.
    void LoadBuddyList();
    // Applies the selected tab: selected buddy, Add/Block/Video buttons, avatar, transcript.
    void setBuddyTab();
    void tabBuddies_Click();
    void InitBuddyImageList();
    // Starts the capture source (the `--video-source` option, else the "Video Source" setting)
    // and its preview in picVideo; status panel 4 shows its format or "(No Video)". False when
    // there is no source.
    bool InitCamera();
    // The value of `--video-source`, read by InitCamera; empty for the setting.
    void setVideoSourceOption(const QString& option) { videoSourceOption_ = option; }
    // Makes the video source anew from the "Video Source" setting (the setup dialog's choice),
    // keeping the per-buddy switches. False when there is no source now.
    bool restartVideo();
    // Status bar panel 4, the video format ("160x120 5fps" or "(No Video)").
    void showVideoFormat(const QString& text) { setPanel(PanelVideoFormat, text); }
    // The live video (source, preview, frame sending); nullptr before InitCamera.
    MainVideo* video() const;

    // The buddy of the selected tab; nullptr when there is no tab.
    cfb::Buddy* SelBuddy() const override { return selBuddy_.get(); }
    // The record of a buddy's tab; nullptr when the buddy has none.
    cBuddyInfo* buddyInfo(const QString& handle) const { return tabs_->record(handle); }
    // Drops a removed buddy's record; the next LoadBuddyList drops its tab.
    void removeBuddyInfo(const QString& handle) { tabs_->forgetRecord(handle); }

    // One tick of the presence timer (every 5 s): polls when the next poll time has passed and the
    // window is visible, then sets the next poll time "Polling Interval" seconds ahead.
    void tmr_Timer();
    // The clock the poll reads (tests step it); the wall clock by default.
    void setClock(std::function<QDateTime()> clock);

    // The status bar's panels, numbered from 1; panelText of another number is empty.
    enum StatusPanel {
        PanelHandle = StatusPanels::Handle,
        PanelPresence = StatusPanels::Presence,
        PanelVideo = StatusPanels::Video,
        PanelVideoFormat = StatusPanels::VideoFormat,
    };
    QString panelText(int panel) const { return panels_->text(panel); }
    QString panelToolTip(int panel) const { return panels_->toolTip(panel); }
    // The call's panel (empty while no call rings or is on) and its tooltip, the call's quality.
    QString callPanelText() const { return panels_->callText(); }
    QString callPanelToolTip() const { return panels_->callToolTip(); }
    CallControl* calls() const { return calls_; }

    // The window the program brings forward ("Open..."): this window, or a dialog while one is
    // open (dialogs set themselves and back).
    QWidget* currentWindow() const
    {
        QWidget* window = session_->currentWindow();
        return window ? window : const_cast<frmMain*>(this);
    }
    void setCurrentWindow(QWidget* window) { session_->setCurrentWindow(window ? window : this); }

    // The notification-area icon; nullptr before Load and after Unload.
    QSystemTrayIcon* trayIcon() const { return tray_->icon(); }
    // Whether closing the window may hide it (the tray can bring it back) or must minimise it.
    // Read from the desktop at Load; a desktop whose tray Qt cannot detect may set it.
    bool systemTrayAvailable() const { return tray_->available(); }
    void setSystemTrayAvailable(bool available) { tray_->setAvailable(available); }

    // Expanded view: the video picture (or the buddy's) enlarged, the window taller.
    bool isExpandedView() const { return layout_->isExpanded(); }
    // Toggles the view as a double-click on picVideo, imgPic, picBuddy or imgBuddy does.
    void toggleExpandedView(QWidget* from);

    // The voices of the "&Select Voice" menu, item i for voice i (1 to 30).
    QAction* mnuVoice(int index) const { return voiceMenu_->item(index); }
    static constexpr int VoiceItems = 30;
    // Names the voice items after the engine's first 30 voices and checks the current one.
    void LoadSpeakerMenu();
    // Makes voice Index the current one and keeps it as the selected buddy's "Speaker".
    void mnuVoice_Click(int Index);
    // The mouth that speaks over the selected buddy's avatar.
    MouthWidget* mouth() const { return pictures_->mouth(); }

    // Selects (creating when needed) the buddy's tab and appends "MessageHandle: Message" to its
    // transcript; speaks Message when SayIt is true and Mute is not pressed.
    void ShowBuddy(
        const QString& handle, const QString& MessageHandle, const QString& Message, int16_t VideoPort, bool SayIt);
    // The chat buttons: send to the selected buddy, shout to every tab, send a picture, open the
    // selected buddy's detached window.
    void cmdSend_Click();
    void cmdShout_Click();
    void cmdPic_Click();
    void cmdNewWindow_Click();

signals:
    // The steps of Load after the sign-in are over: ok is false when an error ended them.
    void loadEnded(bool ok);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void finishLoad(const std::function<void()>& step);
    void signedIn(const SignInFields& fields);
    void showLoaded(bool newAccount);
    void loadBuddyList();
    void applySelectedTab();
    // The files on their way to or from the selected buddy, under the conversation.
    void showTransfers();
    void removeBuddyTab(const QString& handle);
    void enableBuddyButtons(bool enable);
    void setPanel(int panel, const QString& text) { panels_->setText(panel, text); }
    // A picture the Picture button sends shows in imgPic, in place of the video.
    void showSentPicture(const QImage& picture, const QString& toHandle);
    void showOwnAvatar();
    void applyView();
    void askForAttention(const QString& handle, const QString& message);

    void confabo_VideoFrame(QString& FromHandle, QImage& VideoFrame);

    void toolVideo_Click(bool pressed);

    // Chat: what arrives from the library, the transcript, the voice and the mouth.
    void receiveMessage(const QString& FromHandle, const QString& FromEmail, int16_t VideoPort, const QString& Message);

    std::unique_ptr<Ui::frmMain> ui;
    std::unique_ptr<MainWindowLayout> layout_; // made once the form is set up
    std::unique_ptr<ClientSession> session_;
    std::function<void()> exitProgram_;

    BuddyTabs* tabs_ = nullptr; // the records of the users on tabs
    StrangerInvitations* strangers_ = nullptr;
    DialogOpeners* dialogs_ = nullptr;
    std::shared_ptr<cfb::Buddy> selBuddy_;
    VoiceMenu* voiceMenu_ = nullptr;
    std::unique_ptr<StatusPanels> panels_;
    std::unique_ptr<PictureBoxes> pictures_;
    VideoStopCaption* videoStop_ = nullptr; // says so on the buddy's picture when their video stops
    TranscriptView* transcriptView_ = nullptr; // the chat box, following the selected tab's transcript
    PictureSender* pictureSender_ = nullptr;
    ReceivedPictures* receivedPictures_ = nullptr; // puts the pictures buddies send into their transcripts

    QString videoSourceOption_;
    CameraPanel* camera_ = nullptr;

    PresencePoll* poll_ = nullptr;
    BuddyToolbar* toolbar_ = nullptr;
    SecurityNotices* securityNotices_ = nullptr;
    FileExchange* files_ = nullptr;
    CallControl* calls_ = nullptr;
    TransferStrip* transfers_ = nullptr;

    TrayMenu* tray_ = nullptr;

    bool tabSelectionGuard_ = false;
    bool loaded_ = false;
    bool signedIn_ = false;
    bool unloading_ = false;
};

} // namespace cfb::client
