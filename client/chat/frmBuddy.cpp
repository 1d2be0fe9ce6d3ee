#include "chat/frmBuddy.h"

#include "chat/FileDrops.h"
#include "chat/MouthPlacement.h"
#include "chat/PictureSender.h"
#include "chat/TranscriptView.h"
#include "chat/VoiceMenu.h"
#include "chat/cBuddyInfo.h"
#include "common/LocalErrorHandler.h"
#include "common/UserDialogs.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "session/CallOffer.h"
#include "session/ClientSession.h"
#include "speech/MouthWidget.h"
#include "speech/SpeechEngine.h"
#include "ui_frmBuddy.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QMenu>

#include <algorithm>

namespace cfb::client {
namespace {

constexpr int Margin = 6;
constexpr int Gap = 6;
constexpr int RowHeight = 26;
constexpr int MarkHeight = 18;
// The picture keeps the proportions of a video frame, at most the main window's size.
const QSize LargestPicture(164, 124);

} // namespace

frmBuddy::frmBuddy(ClientSession& session, cBuddyInfo& record)
    : QWidget(nullptr, Qt::Window)
    , ui(std::make_unique<Ui::frmBuddy>())
    , session_(session)
    , record_(record)
{
    ui->setupUi(this);
    videoCtl_ = ui->imgBuddy;

    mnuSpeak_ = new QMenu(QStringLiteral("Speak"), this);
    mnuSpeak_->setObjectName(QStringLiteral("mnuSpeak"));
    QAction* sayIt = mnuSpeak_->addAction(QStringLiteral("Say It!"));
    sayIt->setObjectName(QStringLiteral("mnuSayIt"));
    connect(sayIt, &QAction::triggered, this, &frmBuddy::mnuSayIt_Click);

    mnuVoices_ = new QMenu(QStringLiteral("Voices"), this);
    mnuVoices_->setObjectName(QStringLiteral("mnuVoices"));
    QAction* editVoices = mnuVoices_->addAction(QStringLiteral("Edit Voices..."));
    editVoices->setObjectName(QStringLiteral("mnuEditVoices"));
    editVoices->setEnabled(session_.speech() != nullptr);
    connect(editVoices, &QAction::triggered, this, [this] {
        withErrorReport("Edit Voices", [this] {
            if (SpeechEngine* speech = session_.speech())
                speech->showVoicesDialog(this, QStringLiteral("Confabo Voices"));
        });
    });
    mnuVoices_->addSeparator();
    voices_ = new VoiceMenu(mnuVoices_, this);
    connect(voices_, &VoiceMenu::chosen, this, &frmBuddy::mnuVoice_Click);
    voices_->load(session_.speech());

    mouth_ = new MouthWidget(ui->imgBuddy);
    mouth_->setObjectName(QStringLiteral("mouth"));
    mouth_->hide();

    securityIcon_ = new QLabel(this);
    securityIcon_->setObjectName(QStringLiteral("imgSecurity"));
    securityText_ = new QLabel(this);
    securityText_->setObjectName(QStringLiteral("lblSecurity"));
    QFont small = securityText_->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    securityText_->setFont(small);
    securityIcon_->hide();
    securityText_->hide();

    ui->imgBuddy->installEventFilter(this);
    ui->txtChat->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->txtChat, &QWidget::customContextMenuRequested, this, &frmBuddy::chatContextMenu);
    connect(ui->txtMessage, &QLineEdit::returnPressed, ui->cmdSend, &QPushButton::click);
    connect(ui->cmdSend, &QPushButton::clicked, this, &frmBuddy::cmdSend_Click);
    connect(ui->cmdPic, &QPushButton::clicked, this, &frmBuddy::cmdPic_Click);
    connect(ui->cmdFile, &QPushButton::clicked, this, &frmBuddy::cmdFile_Click);
    // The main window calls or hangs up; the button follows the call's state, and whether the
    // buddy's client takes calls once their session is up.
    connect(ui->cmdCall, &QPushButton::clicked, this, [this] {
        if (buddy_)
            emit session_.callWanted(buddy_->handle());
        showCallOffer();
    });
    for (auto signal : {&ClientSession::callIncoming, &ClientSession::callStarted})
        connect(&session_, signal, this, &frmBuddy::showCallOffer);
    connect(&session_, &ClientSession::callEnded, this, &frmBuddy::showCallOffer);
    // The window may be deleted later than the session it looks at.
    connect(&session_, &QObject::destroyed, &callOffer_, &QTimer::stop);
    callOffer_.setInterval(2000);
    connect(&callOffer_, &QTimer::timeout, this, &frmBuddy::showCallOffer);
    callOffer_.start();
    new FileDrops(*ui->txtChat, [this](const QStringList& paths) {
        if (buddy_)
            emit session_.filesToSend(this, buddy_->handle(), paths);
    });
    pictures_ = new PictureSender(session_, this);
    connect(pictures_, &PictureSender::sending, this, [this](const QImage& picture) {
        showFrame(picture);
        record_.transcript().appendPicture(session_.handle(), picture, QDateTime::currentDateTime());
    });
    layoutControls();

    transcriptView_ = new TranscriptView(ui->txtChat, session_, TranscriptView::Detached {}, this);
    transcriptView_->follow(&record_.transcript());
}

frmBuddy::~frmBuddy() = default;

void frmBuddy::setBuddy(std::shared_ptr<cfb::Buddy> buddy)
{
    buddy_ = std::move(buddy);
    showCallOffer();
}

void frmBuddy::showCallOffer()
{
    const CallOffer offer = CallOffer::of(session_, buddy_ ? buddy_->handle() : QString());
    ui->cmdCall->setText(offer.hangsUp ? QStringLiteral("&Hang Up") : QStringLiteral("&Call"));
    ui->cmdCall->setEnabled(offer.enabled);
    ui->cmdCall->setToolTip(offer.toolTip);
}

void frmBuddy::showAvatar(const QImage& avatar)
{
    avatarSize_ = avatar.size();
    showingAvatar_ = true;
    showPicture(avatar);
}

void frmBuddy::showFrame(const QImage& frame)
{
    if (frame.isNull())
        return;
    showingAvatar_ = false;
    showPicture(frame);
}

void frmBuddy::showSecurity(SecurityMark::State state, const QString& handle)
{
    securityIcon_->setPixmap(SecurityMark::badge(state, MarkHeight - 2));
    securityText_->setText(SecurityMark::caption(state));
    for (QLabel* part : {securityIcon_, securityText_}) {
        part->setToolTip(SecurityMark::explanation(state, handle));
        part->setVisible(true);
    }
    layoutControls();
}

void frmBuddy::showPicture(const QImage& picture)
{
    picture_ = picture;
    QLabel* label = ui->imgBuddy;
    if (picture.isNull()) {
        label->clear();
    } else {
        const QSize room = (label->size() - QSize(2, 2)).expandedTo(QSize(1, 1));
        label->setPixmap(QPixmap::fromImage(picture.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    }
    placeMouth();
}

// The mouth sits over the avatar's mouth while the avatar shows and has one; over a frame it would
// not fit.
void frmBuddy::placeMouth()
{
    withErrorReport("placeMouth", [this] {
        const std::optional<QPoint> mouth
            = showingAvatar_ && buddy_ && !picture_.isNull() ? MouthPlacement::mouthOn(*buddy_) : std::nullopt;
        if (!mouth) {
            mouth_->hide();
            return;
        }
        MouthPlacement::placeOver(*mouth_, *ui->imgBuddy, avatarSize_, mouth->x(), mouth->y());
        mouth_->show();
    });
}

void frmBuddy::cmdSend_Click()
{
    withErrorReport("cmdSend_Click", [this] {
        const QString text = ui->txtMessage->text();
        if (text.trimmed().isEmpty() || !buddy_)
            return;
        // The typed line stays in the box for when the buddy takes messages again.
        if (const QString refused = record_.refusal(); !refused.isEmpty()) {
            record_.transcript().appendNotice(refused);
            return;
        }
        record_.sendLine(text);
        ui->txtMessage->clear();
        UserDialogs::current().beep();
    });
}

void frmBuddy::cmdPic_Click()
{
    withErrorReport("cmdPic_Click", [this] {
        if (!buddy_)
            return;
        if (!pictures_->start(buddy_, ui->cmdPic))
            return;
        // No video goes to this buddy while the picture shows there.
        record_.setVideo(false);
        emit session_.buddySwitchesChanged();
    });
}

void frmBuddy::cmdFile_Click()
{
    withErrorReport("cmdFile_Click", [this] {
        if (buddy_)
            emit session_.filesToSend(this, buddy_->handle(), {});
    });
}

void frmBuddy::mnuSayIt_Click()
{
    withErrorReport("mnuSayIt_Click", [this] {
        SpeechEngine* speech = session_.speech();
        const QString text = ui->txtChat->textCursor().selectedText().replace(QChar::ParagraphSeparator, u' ');
        if (!speech || text.trimmed().isEmpty())
            return;
        if (buddy_)
            voices_->select(speech, VoiceMenu::speakerOf(buddy_->handle()), buddy_->handle());
        speech->speak(text, mouth_);
    });
}

void frmBuddy::mnuVoice_Click(int index)
{
    withErrorReport(
        "mnuVoice_Click", [&] { voices_->select(session_.speech(), index, buddy_ ? buddy_->handle() : QString()); });
}

void frmBuddy::chatContextMenu(const QPoint& at)
{
    const QPoint global = ui->txtChat->viewport()->mapToGlobal(at);
    if (ui->txtChat->textCursor().hasSelection()) {
        mnuSpeak_->popup(global);
        return;
    }
    QMenu* standard = ui->txtChat->createStandardContextMenu();
    standard->setAttribute(Qt::WA_DeleteOnClose);
    standard->popup(global);
}

bool frmBuddy::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->imgBuddy && event->type() == QEvent::ContextMenu) {
        mnuVoices_->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void frmBuddy::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutControls();
}

// The picture at the top left with the security mark and Call under it, the transcript beside
// them, the message box and the buttons along the bottom; everything grows with the window.
void frmBuddy::layoutControls()
{
    const int width = this->width(), height = this->height();
    const int sendWidth = std::max(ui->cmdSend->sizeHint().width(), 70);
    const int picWidth = std::max(ui->cmdPic->sizeHint().width(), 70);
    const int fileWidth = std::max(ui->cmdFile->sizeHint().width(), 60);
    const int callWidth = std::max(ui->cmdCall->sizeHint().width(), 70);
    const int rowTop = height - Margin - RowHeight;
    ui->cmdSend->setGeometry(width - Margin - sendWidth, rowTop, sendWidth, RowHeight);
    ui->cmdPic->setGeometry(ui->cmdSend->x() - Gap - picWidth, rowTop, picWidth, RowHeight);
    ui->cmdFile->setGeometry(ui->cmdPic->x() - Gap - fileWidth, rowTop, fileWidth, RowHeight);
    ui->txtMessage->setGeometry(Margin, rowTop, std::max(20, ui->cmdFile->x() - Gap - Margin), RowHeight);

    const int topHeight = std::max(20, rowTop - Gap - Margin);
    // The mark takes its row from the picture's room, so that both stay whole in a small window.
    const bool marked = !securityText_->isHidden();
    const int pictureRoom = std::max(12, topHeight - (marked ? MarkHeight + Gap : 0) - RowHeight - Gap);
    QSize picture = LargestPicture.scaled(QSize((width - 2 * Margin - Gap) / 2, pictureRoom), Qt::KeepAspectRatio);
    picture = picture.boundedTo(LargestPicture).expandedTo(QSize(16, 12));
    ui->picAvatar->setGeometry(Margin, Margin, picture.width(), picture.height());
    ui->imgBuddy->setGeometry(0, 0, picture.width(), picture.height());
    const int markTop = Margin + picture.height() + Gap;
    securityIcon_->setGeometry(Margin, markTop, MarkHeight, MarkHeight);
    securityText_->setGeometry(
        Margin + MarkHeight + 3, markTop, std::max(20, picture.width() - MarkHeight - 3), MarkHeight);
    // Call sits under the picture, as on a contact's card, leaving the message box its width.
    const int callTop = marked ? markTop + MarkHeight + Gap : markTop;
    ui->cmdCall->setGeometry(Margin, callTop, std::max(callWidth, picture.width()), RowHeight);
    const int chatLeft = Margin + std::max(callWidth, picture.width()) + Gap;
    ui->txtChat->setGeometry(chatLeft, Margin, std::max(20, width - Margin - chatLeft), topHeight);
    showPicture(picture_);
}

void frmBuddy::closeEvent(QCloseEvent* event)
{
    // Closed, the window talks to nobody until it is shown for a buddy again.
    buddy_.reset();
    pictures_->cancel();
    mouth_->hide();
    QWidget::closeEvent(event);
}

} // namespace cfb::client
