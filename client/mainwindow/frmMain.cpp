#include "mainwindow/frmMain.h"
#include "mainwindow/BuddyToolbar.h"
#include "mainwindow/CallControl.h"
#include "mainwindow/CameraPanel.h"
#include "mainwindow/DialogOpeners.h"
#include "mainwindow/HelpMenu.h"
#include "mainwindow/PresencePoll.h"
#include "mainwindow/ReachabilityStatus.h"
#include "mainwindow/FileExchange.h"
#include "mainwindow/SecurityNotices.h"
#include "mainwindow/StatusPanels.h"
#include "mainwindow/VideoStopCaption.h"

#include "chat/ChatHistory.h"
#include "chat/FileDrops.h"
#include "chat/HistorySearchDialog.h"
#include "chat/PictureSender.h"
#include "chat/ReceivedPictures.h"
#include "chat/TransferStrip.h"
#include "chat/StrangerInvitations.h"
#include "chat/TranscriptView.h"
#include "chat/cBuddyInfo.h"
#include "chat/frmBuddy.h"
#include "common/BusyCursor.h"
#include "common/LocalErrorHandler.h"
#include "common/UserDialogs.h"
#include "common/modMain.h"
#include "messaging/Buddies.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "platform/Settings.h"
#include "protocol/SkipJack.h"
#include "resources/ClientResources.h"
#include "session/SignInSequence.h"
#include "speech/SpeechEngine.h"
#include "ui_frmMain.h"
#include "video/MainVideo.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QFile>
#include <QMenu>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTabBar>

// The toolbar icons live in this static library; the linker keeps them only when asked for.
static void initToolbarIcons()
{
    Q_INIT_RESOURCE(toolbar);
}

namespace cfb::client {
namespace {

// What the empty chat box says while no buddy has a tab.
const QString NobodyOnline = QStringLiteral("None of your buddies is online right now. Add buddies by handle or "
                                            "e-mail address with Buddies, or ask someone to chat with Invite.");
// What Send says with nobody on a tab.
const QString NobodyToSendTo
    = QStringLiteral("Nobody to send to: none of your buddies is online. The message stays in the box.");

} // namespace

frmMain::frmMain(SpeechEngine* speech, std::function<void()> exitProgram, QWidget* parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::frmMain>())
    , session_(std::make_unique<ClientSession>(speech))
    , exitProgram_(std::move(exitProgram))
{
    initToolbarIcons();
    ui->setupUi(this);
    ui->mnuPopup->menuAction()->setVisible(false);

    connect(session_.get(), &ClientSession::buddyListsChanged, this, &frmMain::LoadBuddyList);
    connect(session_.get(), &ClientSession::buddyRemoved, this, &frmMain::removeBuddyInfo);
    connect(session_.get(), &ClientSession::buddySwitchesChanged, this, &frmMain::setBuddyTab);
    connect(session_.get(), &ClientSession::videoSourceChanged, this, &frmMain::restartVideo);
    connect(session_.get(), &ClientSession::videoFormatShown, this, &frmMain::showVideoFormat);
    connect(session_.get(), &ClientSession::messageReceived, this, &frmMain::receiveMessage);
    connect(session_.get(), &ClientSession::conversationWanted, this, [this](const QString& handle) {
        if (!session_->library() || !session_->library()->Buddies()->Item(handle))
            return;
        tabs_->keepOpen(handle);
        ShowBuddy(handle, session_->handle(), QString(), session_->dataPort(), false);
    });
    connect(session_.get(), &ClientSession::serviceSlow, this, [this](bool slow) { panels_->showServiceSlow(slow); });

    voiceMenu_ = new VoiceMenu(ui->mnuSelectVoice, this);
    connect(voiceMenu_, &VoiceMenu::chosen, this, &frmMain::mnuVoice_Click);
    pictures_ = std::make_unique<PictureBoxes>(*ui->picVideo, *ui->imgPic, *ui->imgBuddy);
    videoStop_ = new VideoStopCaption(*ui->imgBuddy, this);

    panels_ = std::make_unique<StatusPanels>(*ui->status);

    layout_ = std::make_unique<MainWindowLayout>(*this,
        MainWindowLayout::Controls{ui->centralwidget, ui->frameBuddy, ui->tool, ui->toolAdd, ui->toolBlock,
            ui->tabBuddies, ui->picVideo, ui->imgPic, ui->picBuddy, ui->imgBuddy, ui->txtChat, ui->txtMessage,
            {ui->cmdSend, ui->cmdShout, ui->cmdPic, ui->cmdFile, ui->cmdNewWindow}, ui->mnuSelectVoice});
    layout_->decorate();
    transcriptView_ = new TranscriptView(ui->txtChat, *session_, this);
    layout_->watchPictures([this](QWidget* picture) { toggleExpandedView(picture); });
    ui->picVideo->raise();

    camera_ = new CameraPanel(
        {ui->picVideo, ui->toolVideo, ui->mnuVideo}, *this, *session_, *panels_, [this] { showOwnAvatar(); }, this);
    tabs_ = new BuddyTabs(*ui->tabBuddies, *session_, this);
    poll_ = new PresencePoll(
        *session_,
        [this] {
            return session_->library() ? tabs_->strangers(*session_->library()->Buddies())
                                       : QHash<QString, std::shared_ptr<cfb::Buddy>>();
        },
        this);
    connect(poll_, &PresencePoll::ticked, this, &frmMain::tmr_Timer);
    connect(poll_, &PresencePoll::reached, this, [this](bool reached) {
        panels_->showServiceUnreachable(!reached);
        tabs_->setPresenceKnown(reached);
    });
    connect(poll_, &PresencePoll::polled, this, &frmMain::LoadBuddyList);
    dialogs_ = new DialogOpeners(*this, *session_);
    strangers_ = new StrangerInvitations(
        *session_,
        [this](const StrangerQueue::Invitation& invitation) {
            const BusyCursor busy;
            ShowBuddy(
                invitation.handle, invitation.handle, invitation.message, invitation.videoPort, session_->speakIt());
        },
        this);
    toolbar_ = new BuddyToolbar({.tool = ui->tool,
                                    .toolMute = ui->toolMute,
                                    .mnuMute = ui->mnuMute,
                                    .toolAdd = ui->toolAdd,
                                    .toolBlock = ui->toolBlock,
                                    .toolBuddies = ui->toolBuddies,
                                    .mnuEditBuddyList = ui->mnuEditBuddyList,
                                    .mnuVerify = ui->mnuVerify,
                                    .mnuClearHistory = ui->mnuClearHistory,
                                    .toolVideo = ui->toolVideo,
                                    .mnuVideo = ui->mnuVideo,
                                    .mnuAvailable = ui->mnuAvailable,
                                    .mnuPopupAvailable = ui->mnuPopupAvailable,
                                    .mnuBusy = ui->mnuBusy,
                                    .mnuPopupBusy = ui->mnuPopupBusy},
        *this, *session_, *tabs_, *dialogs_, *poll_, *panels_, [this] { return selBuddy_; });
    connect(toolbar_, &BuddyToolbar::buddyRemoved, this, &frmMain::removeBuddyTab);
    connect(toolbar_, &BuddyToolbar::buddiesChanged, this, &frmMain::LoadBuddyList);
    securityNotices_ = new SecurityNotices(*this, *session_, *tabs_, [this] { LoadBuddyList(); });
    files_ = new FileExchange(*this, *session_, [this](const QString& handle) { return tabs_->transcriptOf(handle); });
    calls_ = new CallControl({.callItem = ui->mnuCall, .callButton = ui->toolCall, .muteItem = ui->mnuCallMute},
        *session_, *panels_,
        {.selected = [this] { return selBuddy_; },
            .transcriptOf = [this](const QString& handle) { return tabs_->transcriptOf(handle); }},
        this);
    transfers_ = new TransferStrip(ui->frameBuddy);
    layout_->setTransferStrip(transfers_);
    connect(transfers_, &TransferStrip::cancelRequested, files_, &FileExchange::cancel);
    connect(files_, &FileExchange::changed, this, [this](const QString& handle) {
        if (selBuddy_ && selBuddy_->handle().compare(handle, Qt::CaseInsensitive) == 0)
            showTransfers();
    });
    const auto sendFile = [this] {
        withErrorReport("SendFile", [this] {
            if (selBuddy_)
                files_->chooseAndSend(selBuddy_->handle());
        });
    };
    connect(ui->cmdFile, &QPushButton::clicked, this, sendFile);
    connect(ui->mnuSendFile, &QAction::triggered, this, sendFile);
    new FileDrops(*ui->txtChat, [this](const QStringList& paths) {
        withErrorReport("FileDrop", [&] {
            if (selBuddy_)
                for (const QString& path : paths)
                    files_->send(selBuddy_->handle(), path);
        });
    });

    connect(ui->tabBuddies, &QTabBar::currentChanged, this, [this](int) { tabBuddies_Click(); });
    connect(ui->toolVideo, &QAction::triggered, this, &frmMain::toolVideo_Click);
    connect(ui->mnuVideo, &QAction::triggered, ui->toolVideo, &QAction::trigger);

    tray_ = new TrayMenu(*this, *ui->mnuPopup, *ui->mnuPopupOpen, [this] { return currentWindow(); }, *dialogs_);
    const auto setup = [this] { withErrorReport("Setup", [this] { dialogs_->showSetup(this); }); };
    connect(ui->toolSetup, &QAction::triggered, this, setup);
    connect(ui->mnuFileSetup, &QAction::triggered, this, setup);
    connect(ui->mnuPopupSetup, &QAction::triggered, tray_, &TrayMenu::openSetup);
    connect(ui->toolInvite, &QAction::triggered, this,
        [this] { withErrorReport("Invite", [this] { dialogs_->showInvite(this); }); });
    // Exit runs the exit sequence and ends the process.
    for (QAction* exit : {ui->toolExit, ui->mnuFileExit, ui->mnuPopupExit})
        connect(exit, &QAction::triggered, this, &frmMain::exitProgram);

    connect(ui->mnuPopupOpen, &QAction::triggered, tray_, &TrayMenu::open);
    // "Open..." waits until the last question has its answer.
    connect(session_.get(), &ClientSession::questionsOpen, ui->mnuPopupOpen,
        [open = ui->mnuPopupOpen](bool asking) { open->setEnabled(!asking); });

    new HelpMenu({ui->mnuContents, ui->mnuEmailSupport, ui->mnuWeb, ui->mnuAbout, ui->mnuEditVoices}, *this, *session_);

    // Enter in the message box presses Send; the line edit keeps the key out of the text.
    connect(ui->txtMessage, &QLineEdit::returnPressed, ui->cmdSend, &QPushButton::click);
    connect(ui->cmdSend, &QPushButton::clicked, this, &frmMain::cmdSend_Click);
    connect(ui->cmdShout, &QPushButton::clicked, this, &frmMain::cmdShout_Click);
    connect(ui->cmdPic, &QPushButton::clicked, this, &frmMain::cmdPic_Click);
    pictureSender_ = new PictureSender(*session_, this);
    connect(pictureSender_, &PictureSender::sending, this, &frmMain::showSentPicture);
    receivedPictures_ = new ReceivedPictures(this);
    connect(receivedPictures_, &ReceivedPictures::pictureReceived, this,
        [this](const QString& handle, const QImage& picture, const QDateTime& when) {
            if (cBuddyInfo* record = buddyInfo(handle))
                record->transcript().appendPicture(handle, picture, when);
        });
    // A picture that came whole, as a file: shown as a frame would be, and a line of its own.
    connect(files_, &FileExchange::pictureReceived, this, [this](const QString& handle, const QString& path) {
        withErrorReport("PictureReceived", [&] {
            // The conversation keeps the picture; nothing of it stays on disk.
            const QImage picture(path);
            QFile::remove(path);
            if (picture.isNull())
                return;
            if (cBuddyInfo* record = buddyInfo(handle)) {
                record->transcript().appendPicture(handle, picture, QDateTime::currentDateTime());
                if (frmBuddy* form = record->BuddyForm(); form && form->isVisible())
                    form->showFrame(picture);
            }
            if (selBuddy_ && selBuddy_->handle() == handle) {
                pictures_->show(ui->imgBuddy, picture);
                pictures_->hideMouth();
            }
        });
    });
    connect(ui->cmdNewWindow, &QPushButton::clicked, this, &frmMain::cmdNewWindow_Click);
    connect(ui->mnuShowBuddyWindow, &QAction::triggered, this, &frmMain::cmdNewWindow_Click);
    connect(ui->mnuSearchHistory, &QAction::triggered, this, [this] { HistorySearchDialog::open(tabs_->history(), this); });

    enableBuddyButtons(false);
    // "Add" belongs to a selected user who is not a buddy; with nobody selected there is none.
    ui->toolAdd->setVisible(false);
    layout_->measureToolbar();
    applyView();
}

frmMain::~frmMain()
{
    if (loaded_)
        Unload();
}

void frmMain::Load()
{
    loaded_ = true;
    signedIn_ = false;
    unloading_ = false;
    session_->setCurrentWindow(this);

    SkipJack::SkipjackInit();

    Confabo* confabo = session_->open();
    session_->checkDataPort();
    ReachabilityStatus::attach(*ui->status, *session_, this);
    connect(confabo, &Confabo::VideoFrame, this, &frmMain::confabo_VideoFrame);

    InitCamera();

    RunSignInSequence(*session_, session_->speech(), this, *dialogs_, [this](std::optional<SignInFields> fields) {
        if (!fields) {
            // Unless the window is being unloaded already (its session closing ended the sign-in).
            if (loaded_ && !unloading_)
                exitProgram();
            return;
        }
        finishLoad([&] { signedIn(*fields); });
    });
}

// The rest of the load runs from the event loop: an error it raises ends the load as one raised by
// Load itself would.
void frmMain::finishLoad(const std::function<void()>& step)
{
    try {
        step();
    } catch (const std::exception&) {
        emit loadEnded(false);
    }
}

void frmMain::signedIn(const SignInFields& fields)
{
    session_->setHandle(fields.handle);
    session_->setSpeakIt(fields.speakIt);

    // Two users on one machine tell their windows apart by the handle.
    setWindowTitle(QStringLiteral("%1 - %2").arg(QLatin1String(modMain::AppTitle), session_->handle()));
    tray_->setTitle(windowTitle());
    setPanel(PanelHandle, session_->handle());
    panels_->showServiceConnection();
    video()->setHandle(session_->handle());
    toolbar_->showOwnPresence();
    if (!camera_->available())
        showOwnAvatar(); // the avatar arrives with the sign-in

    tabs_->clear();
    selBuddy_.reset();
    poll_->poll(
        PresencePoll::Now, [this, newAccount = fields.newAccount] { finishLoad([&] { showLoaded(newAccount); }); });
}

void frmMain::showLoaded(bool newAccount)
{
    if (!loaded_ || unloading_)
        return;
    LoadSpeakerMenu();
    setPanel(PanelVideo, QStringLiteral("Video: Off"));
    tray_->add();
    tabBuddies_Click();

    if (!session_->dataPortProblem().isEmpty())
        panels_->announceProblem(session_->dataPortProblem(), tray_->icon());
    securityNotices_->announceIdentityProblem();

    poll_->start();

    bool numeric = false;
    const int taskbar = Settings::Taskbar.read().trimmed().toInt(&numeric);
    // Left in the tray only where a tray can bring it back; a value that is no number shows it too.
    if (!numeric || taskbar == 0 || !tray_->available()) {
        show(); // the splash gives way to it
        // A new account has no buddies yet: the service's welcome has just said how to add them,
        // and the empty chat box says it again.
        if (ui->tabBuddies->count() == 0 && !newAccount)
            dialogs_->offerInvitation();
    }
    signedIn_ = true;
    emit loadEnded(true);
}

MainVideo* frmMain::video() const
{
    return camera_->video();
}

bool frmMain::InitCamera()
{
    return camera_->start(videoSourceOption_);
}

bool frmMain::restartVideo()
{
    videoSourceOption_.clear();
    const bool available = camera_->restart();
    if (available)
        enableBuddyButtons(tabs_->count() > 0);
    return available;
}

bool frmMain::rebindDataPort(const QString& portText, QString* reason)
{
    if (!session_->rebindDataPort(portText, reason))
        return false;
    ReachabilityStatus::attach(*ui->status, *session_, this); // the router forwards the new port
    return true;
}

void frmMain::Unload()
{
    if (unloading_ || !loaded_)
        return;
    unloading_ = true;
    withErrorReport("Unload", [this] {
        poll_->stop();
        hide();
        video()->stop();
        pictureSender_->cancel();
        // The router forgets the data port's mapping now: the process ends without destructors.
        delete findChild<ReachabilityStatus*>(QString(), Qt::FindDirectChildrenOnly);
        tray_->remove();
        session_->close();
    });
    selBuddy_.reset();
    tabs_->clear();
    const QList<QWidget*> windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows)
        if (window != this && window->isWindow() && window->isVisible() && !qobject_cast<QMenu*>(window))
            window->close();
    loaded_ = false;
}

void frmMain::exitProgram()
{
    Unload();
    if (exitProgram_)
        exitProgram_();
}

SessionDialogs& frmMain::dialogs() const
{
    return *dialogs_;
}

void frmMain::closeEvent(QCloseEvent* event)
{
    if (unloading_ || !loaded_) {
        event->accept();
        return;
    }
    // Only the program unloads this window; the user's close puts it away where it can come back.
    event->ignore();
    if (tray_->available() && tray_->icon())
        hide();
    else
        showMinimized();
}

void frmMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    applyView();
}

// --- buddy tabs ---------------------------------------------------------------------------------

void frmMain::InitBuddyImageList()
{
    ui->tabBuddies->setIconSize(MainWindowLayout::BuddyIconSize);
}

void frmMain::LoadBuddyList()
{
    withErrorReport("LoadBuddyList", [this] { loadBuddyList(); });
}

void frmMain::loadBuddyList()
{
    if (!session_->library())
        return;
    tabs_->follow(*session_->library()->Buddies());
    if (selBuddy_ && tabs_->indexOf(selBuddy_->handle()) < 0)
        selBuddy_.reset();
    applySelectedTab();
    ui->tabBuddies->update();

    if (tabs_->count() == 0) {
        selBuddy_.reset();
        enableBuddyButtons(false);
        ui->toolAdd->setVisible(false);
        transcriptView_->follow(nullptr);
        videoStop_->follow(QString());
        ui->txtChat->setPlaceholderText(NobodyOnline);
        pictures_->show(ui->imgBuddy, QImage());
        pictures_->hideMouth();
    } else {
        if (!selBuddy_) {
            const QSignalBlocker block(ui->tabBuddies);
            ui->tabBuddies->setCurrentIndex(0);
            applySelectedTab();
        }
        enableBuddyButtons(true);
        ui->txtChat->setPlaceholderText(QString());
    }
}

void frmMain::removeBuddyTab(const QString& handle)
{
    tabs_->remove(handle);
    if (selBuddy_ && selBuddy_->handle() == handle)
        selBuddy_.reset();
}

void frmMain::enableBuddyButtons(bool enable)
{
    toolbar_->enable(enable, camera_->available());
}

void frmMain::setBuddyTab()
{
    withErrorReport("setBuddyTab", [this] { applySelectedTab(); });
}

void frmMain::applySelectedTab()
{
    const int index = ui->tabBuddies->currentIndex();
    if (index < 0 || !session_->library())
        return;
    const QString key = tabs_->handleAt(index);
    cBuddyInfo* found = tabs_->record(key);
    if (!found)
        return;
    cBuddyInfo& record = *found;
    selBuddy_ = record.Buddy();
    tabs_->setUnread(key, false);
    videoStop_->follow(key);
    ui->toolAdd->setVisible(!session_->library()->Buddies()->Item(key));
    toolbar_->showBlocked();
    ui->toolVideo->setChecked(record.Video());
    ui->mnuVideo->setChecked(record.Video());
    setPanel(PanelVideo, record.Video() ? QStringLiteral("Video: On") : QStringLiteral("Video: Off"));
    video()->setSending(record.Video());
    if (!tabSelectionGuard_ && selBuddy_)
        pictures_->showBuddy(*selBuddy_, record.Video());
    mnuVoice_Click(VoiceMenu::speakerOf(key));
    transcriptView_->follow(&record.transcript());
    showTransfers();
    calls_->showSelected();
}

void frmMain::showTransfers()
{
    const bool shown = !transfers_->isHidden();
    transfers_->setTransfers(selBuddy_ ? files_->transfersWith(selBuddy_->handle()) : QList<FileTransfer>());
    if (shown != !transfers_->isHidden())
        layout_->apply();
}

void frmMain::tabBuddies_Click()
{
    const BusyCursor busy;
    setBuddyTab();
    if (isVisible())
        ui->txtMessage->setFocus();
}

// --- presence poll ------------------------------------------------------------------------------

void frmMain::tmr_Timer()
{
    withErrorReport("tmr_Timer", [this] { poll_->tick(isVisible()); });
}

void frmMain::setClock(std::function<QDateTime()> clock)
{
    poll_->setClock(std::move(clock));
}

// --- toolbar ------------------------------------------------------------------------------------

void frmMain::toolVideo_Click(bool pressed)
{
    withErrorReport("Video", [&] {
        ui->mnuVideo->setChecked(pressed);
        if (!selBuddy_)
            return;
        if (cBuddyInfo* record = buddyInfo(selBuddy_->handle()))
            record->setVideo(pressed);
        video()->setSending(pressed);
        if (pressed && layout_->showsOwnPicture()) {
            // The video takes the user's box back from the picture sent.
            layout_->showOwnPicture(false);
            applyView();
        }
        pictures_->showBuddy(*selBuddy_, pressed);
        setPanel(PanelVideo, pressed ? QStringLiteral("Video: On") : QStringLiteral("Video: Off"));
    });
}

// A frame (live video or a picture) from the selected buddy replaces its picture, and shows in the
// sender's detached window when that is open; the main window drops frames from anyone else.
void frmMain::confabo_VideoFrame(QString& FromHandle, QImage& VideoFrame)
{
    withErrorReport("VideoFrame", [&] {
        if (VideoFrame.isNull())
            return;
        receivedPictures_->frameArrived(FromHandle, VideoFrame);
        // The mouth belongs on the avatar, not on a picture of the buddy's camera.
        if (selBuddy_ && selBuddy_->handle() == FromHandle) {
            pictures_->show(ui->imgBuddy, VideoFrame);
            pictures_->hideMouth();
            videoStop_->frameShown(FromHandle);
        }
        if (cBuddyInfo* record = buddyInfo(FromHandle))
            if (frmBuddy* form = record->BuddyForm(); form && form->isVisible())
                form->showFrame(VideoFrame);
    });
}

// --- chat ---------------------------------------------------------------------------------------

void frmMain::cmdSend_Click()
{
    withErrorReport("cmdSend_Click", [this] {
        const QString text = ui->txtMessage->text();
        if (text.trimmed().isEmpty() || !session_->library())
            return;
        if (!selBuddy_ || selBuddy_->handle().isEmpty()) {
            ui->status->showMessage(NobodyToSendTo, 10000);
            return;
        }
        const QString to = selBuddy_->handle();
        cBuddyInfo* record = buddyInfo(to);
        if (!record)
            return;
        // The typed line stays in the box for when the buddy takes messages again.
        if (!record->refusal().isEmpty()) {
            record->transcript().appendNotice(record->refusal());
            return;
        }
        // The line shows all the same, marked "not delivered" when it could not go. No frame goes
        // out while the message does. Whether the buddy is available is what the last poll found.
        {
            const MainVideo::Pause pause(video());
            record->sendLine(text);
        }
        ShowBuddy(to, session_->handle(), QString(), session_->dataPort(), false);
        ui->txtMessage->clear();
        UserDialogs::current().beep();
    });
}

// Sends the message to every tab's buddy and adds it to each transcript. A blank message would
// only add empty lines (the receivers drop it), so it is kept in the box like a blank Send.
void frmMain::cmdShout_Click()
{
    withErrorReport("cmdShout_Click", [this] {
        const QString text = ui->txtMessage->text();
        if (text.trimmed().isEmpty() || !session_->library())
            return;
        const MainVideo::Pause pause(video());
        for (int i = 0; i < ui->tabBuddies->count(); ++i) {
            cBuddyInfo* record = buddyInfo(tabs_->handleAt(i));
            if (!record || !record->Buddy())
                continue;
            if (const QString refused = record->refusal(); !refused.isEmpty()) {
                record->transcript().appendNotice(refused);
                continue;
            }
            record->sendLine(text);
        }
        ui->txtMessage->clear();
    });
}

void frmMain::cmdPic_Click()
{
    withErrorReport("cmdPic_Click", [this] {
        if (!selBuddy_)
            return;
        pictureSender_->start(selBuddy_, ui->cmdPic);
    });
}

// The picture is ready to go: it takes the place of the video until video is turned on again,
// the button shows released, and the picture stays in the conversation with the buddy.
void frmMain::showSentPicture(const QImage& picture, const QString& toHandle)
{
    ui->toolVideo->setChecked(false);
    ui->mnuVideo->setChecked(false);
    video()->setSending(false);
    pictures_->show(ui->imgPic, picture);
    layout_->showOwnPicture(true);
    applyView();
    if (cBuddyInfo* record = buddyInfo(toHandle))
        record->transcript().appendPicture(session_->handle(), picture, QDateTime::currentDateTime());
}

void frmMain::cmdNewWindow_Click()
{
    withErrorReport("cmdNewWindow_Click", [this] {
        if (cBuddyInfo* record = selBuddy_ ? buddyInfo(selBuddy_->handle()) : nullptr)
            record->showWindow();
    });
}

void frmMain::ShowBuddy(
    const QString& handle, const QString& MessageHandle, const QString& Message, int16_t VideoPort, bool SayIt)
{
    Q_UNUSED(VideoPort);
    withErrorReport("ShowBuddy", [&] {
        const BusyCursor busy;
        // No pending events run here: the next message would be shown before this one, and the
        // time and encryption of the newest given to this one.
        if (!session_->library())
            return;

        cBuddyInfo* record = buddyInfo(handle);
        if (!record) {
            std::shared_ptr<cfb::Buddy> buddy = session_->library()->Buddies()->Item(handle);
            if (!buddy) {
                tabs_->addStranger(handle, [=, this] { ShowBuddy(handle, MessageHandle, Message, VideoPort, SayIt); });
                return;
            }
            record = tabs_->addRecord(handle);
            record->setBuddy(std::move(buddy));
        }

        QTabBar* tabs = ui->tabBuddies;
        if (tabs_->indexOf(handle) < 0) {
            tabs_->add(handle, record->Buddy());
            enableBuddyButtons(true);
            ui->txtChat->setPlaceholderText(QString());
        }
        const bool incoming = MessageHandle != session_->handle();
        if (incoming && session_->lastArrivalWritten(MessageHandle).isValid())
            tabs_->keepOpen(handle); // left in the mailbox: its writer may well be offline
        // A line that arrives while the user types to someone else leaves the selected tab as it
        // is, so that what is typed goes where the user meant it to; the sender's tab is marked.
        if (incoming && selBuddy_ && selBuddy_->handle() != handle && !ui->txtMessage->text().isEmpty()) {
            if (!Message.isEmpty())
                record->transcript().append(MessageHandle, Message, session_->lastArrivalSecure(MessageHandle),
                    session_->lastArrivalWritten(MessageHandle), session_->lastArrivalId(MessageHandle));
            tabs_->setUnread(handle, true);
            if (SayIt && !ui->toolMute->isChecked() && session_->speech()) {
                SpeechEngine& speech = *session_->speech();
                speech.setCurrentVoice(VoiceMenu::speakerOf(handle));
                speech.speak(Message);
                speech.setCurrentVoice(VoiceMenu::speakerOf(selBuddy_->handle()));
            }
            askForAttention(handle, Message);
            return;
        }

        selBuddy_ = record->Buddy();
        {
            const QSignalBlocker block(tabs);
            tabs->setCurrentIndex(tabs_->indexOf(handle));
        }
        tabSelectionGuard_ = true;
        tabBuddies_Click();
        tabSelectionGuard_ = false;

        pictures_->showBuddy(*selBuddy_, record->Video());

        transcriptView_->follow(&record->transcript());
        if (!Message.isEmpty())
            record->transcript().append(MessageHandle, Message, incoming && session_->lastArrivalSecure(MessageHandle),
                incoming ? session_->lastArrivalWritten(MessageHandle) : QDateTime(), // shown as it is added
                incoming ? session_->lastArrivalId(MessageHandle) : 0);

        mnuVoice_Click(VoiceMenu::speakerOf(handle));
        // During a call the engine holds the line until the call is over.
        if (SayIt && !ui->toolMute->isChecked() && session_->speech())
            session_->speech()->speak(Message, pictures_->mouth());

        if (incoming)
            askForAttention(handle, Message);
    });
}

// A line arrived: the window the user works in keeps the keyboard. Unless the line shows in the
// active window (this one, or the sender's own window), the main window asks for attention (the
// desktop marks its taskbar entry) and the tray says who wrote; its notification, when clicked,
// brings the window forward. A window left in the tray stays there, unless no tray can bring it
// back.
void frmMain::askForAttention(const QString& handle, const QString& message)
{
    QWidget* active = QApplication::activeWindow();
    const cBuddyInfo* record = buddyInfo(handle);
    if (active && ((active == this && isVisible()) || (record && active == record->BuddyForm())))
        return;
    if (!isVisible() && !(tray_->available() && tray_->icon())) {
        setAttribute(Qt::WA_ShowWithoutActivating);
        show();
        setAttribute(Qt::WA_ShowWithoutActivating, false);
    }
    if (isVisible())
        QApplication::alert(this);
    tray_->notify(handle, message);
}

// A message from a stranger (neither a buddy nor on a tab) is an invitation: it is shown only when
// the user agrees to chat. One that names the user as its sender is the user's own, come back to
// this client (two clients on one machine share the data port): it is dropped. Handles compare as
// the service compares them, whatever the letter case.
void frmMain::receiveMessage(
    const QString& FromHandle, const QString& FromEmail, int16_t VideoPort, const QString& Message)
{
    withErrorReport("NewMessage", [&] {
        if (!session_->library() || FromHandle.toCaseFolded() == session_->library()->handle().toCaseFolded())
            return;
        if (!session_->library()->Buddies()->Item(FromHandle) && tabs_->indexOf(FromHandle) < 0) {
            strangers_->receive({FromHandle, FromEmail, VideoPort, Message});
            return;
        }
        const BusyCursor busy;
        ShowBuddy(FromHandle, FromHandle, Message, VideoPort, session_->speakIt());
    });
}

// --- voices and the mouth -------------------------------------------------------------------------

void frmMain::LoadSpeakerMenu()
{
    withErrorReport("LoadSpeakerMenu", [this] { voiceMenu_->load(session_->speech()); });
}

void frmMain::mnuVoice_Click(int Index)
{
    withErrorReport("mnuVoice_Click",
        [&] { voiceMenu_->select(session_->speech(), Index, selBuddy_ ? selBuddy_->handle() : QString()); });
}

// --- status bar and pictures --------------------------------------------------------------------

void frmMain::showOwnAvatar()
{
    const QImage avatar = session_->library() && !session_->library()->Avatar().isNull() ? session_->library()->Avatar()
                                                                                         : Buddy::DefaultAvatar();
    pictures_->show(ui->picVideo, avatar);
    pictures_->show(ui->imgPic, avatar);
}

// --- expanded and restored view -----------------------------------------------------------------

void frmMain::toggleExpandedView(QWidget* from)
{
    layout_->toggleExpanded(from);
    applyView();
}

void frmMain::applyView()
{
    layout_->apply();
    pictures_->refresh();
}

} // namespace cfb::client
