#include "common/frmPopup.h"

#include "common/Twips.h"
#include "common/UserDialogs.h"

#include "ui_frmPopup.h"

#include "common/modMain.h"
#include "resources/ClientResources.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QPointer>
#include <QScreen>
#include <QStyle>

namespace cfb::client {
namespace {

constexpr int TickMs = 10;
constexpr int StepsPerTick = 4;
constexpr int PopupWidth = 320;
constexpr int MaxPopupHeight = 300;

} // namespace

frmPopup::frmPopup(QWidget* parent)
    : QWidget(parent,
        Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
            | Qt::WindowCloseButtonHint)
    , ui(std::make_unique<Ui::frmPopup>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    ui->imgIcon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(32, 32));
    setWindowIcon(applicationIcon());
    connect(ui->cmdOK, &QPushButton::clicked, this, [this] { answer(UserDialogs::AnswerYes); });
    connect(ui->cmdNo, &QPushButton::clicked, this, &frmPopup::cmdNo_Click);
    timer_.setInterval(TickMs);
    connect(&timer_, &QTimer::timeout, this, &frmPopup::tick);
    setPrompt(QString());
}

frmPopup::~frmPopup() = default;

void frmPopup::setPrompt(const QString& prompt)
{
    ui->lblMessage->setText(prompt);
    // The width is fixed; the height follows the question so that it is never cut.
    setFixedWidth(PopupWidth);
    layout()->activate();
    const int height = qBound(120, layout()->totalHeightForWidth(PopupWidth), MaxPopupHeight);
    setFixedHeight(height);
    placeAtLoad();
}

QString frmPopup::prompt() const
{
    return ui->lblMessage->text();
}

void frmPopup::offerDontAskAgain()
{
    ui->chkDontAsk->show();
    adjustSize();
}

bool frmPopup::dontAskAgain() const
{
    return ui->chkDontAsk->isVisible() && ui->chkDontAsk->isChecked();
}

void frmPopup::setHelpContext(int context)
{
    helpContext_ = context;
    ui->lblMessage->setProperty("helpContext", context);
}

QRect frmPopup::screenRect() const
{
    const QScreen* s = screen();
    return s ? s->geometry() : QRect(0, 0, 1024, 768);
}

void frmPopup::placeAtLoad()
{
    const QRect area = screenRect();
    const int leftTwips = (area.width() - width()) * TwipsPerPixel - RightMarginTwips;
    leftPixels_ = area.x() + qRound(double(leftTwips) / TwipsPerPixel);
    topTwips_ = area.height() * TwipsPerPixel;
    moveToTop();
}

int frmPopup::targetTopTwips() const
{
    return (screenRect().height() - height()) * TwipsPerPixel - BottomMarginTwips;
}

void frmPopup::moveToTop()
{
    move(leftPixels_, screenRect().y() + qRound(double(topTwips_) / TwipsPerPixel));
}

void frmPopup::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The slide-in starts at the first showing rather than the first activation: a window manager
    // that does not activate new windows would otherwise leave the question below the screen.
    if (!slidIn_ && slide_ == Slide::None && !closing_) {
        slide_ = Slide::In;
        timer_.start();
    }
}

void frmPopup::tick()
{
    if (slide_ == Slide::In) {
        const int target = targetTopTwips();
        for (int i = 0; i < StepsPerTick && topTwips_ - StepTwips >= target; ++i)
            topTwips_ -= StepTwips;
        moveToTop();
        if (topTwips_ - StepTwips < target) {
            timer_.stop();
            slide_ = Slide::None;
            slidIn_ = true;
            emit slideInFinished();
        }
    } else if (slide_ == Slide::Out) {
        const int bottom = screenRect().height() * TwipsPerPixel;
        for (int i = 0; i < StepsPerTick && topTwips_ <= bottom; ++i)
            topTwips_ += StepTwips;
        moveToTop();
        if (topTwips_ > bottom) {
            timer_.stop();
            slide_ = Slide::None;
            closedByProgram_ = true;
            close();
        }
    } else {
        timer_.stop();
    }
}

void frmPopup::answer(int result)
{
    result_ = int16_t(result);
    emit answered(result);
}

void frmPopup::cmdNo_Click()
{
    answer(UserDialogs::AnswerNo);
    closeByProgram();
}

void frmPopup::closeByProgram()
{
    if (closing_)
        return;
    closing_ = true;
    if (!isVisible()) {
        closedByProgram_ = true;
        close();
        return;
    }
    slide_ = Slide::Out;
    timer_.start();
}

void frmPopup::closeEvent(QCloseEvent* event)
{
    if (closedByProgram_) {
        event->accept();
        return;
    }
    // The user's close answers No and leaves the closing to the caller.
    event->ignore();
    if (result_ == 0)
        answer(UserDialogs::AnswerNo);
}

void frmPopup::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F1) {
        modMain::ShowHelp(helpContext_);
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

int frmPopup::waitForAnswer()
{
    int result = result_;
    if (result == 0) {
        QEventLoop loop;
        connect(this, &frmPopup::answered, &loop, [&](int r) {
            result = r;
            loop.quit();
        });
        connect(this, &QObject::destroyed, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return result == 0 ? UserDialogs::AnswerNo : result;
}

} // namespace cfb::client
