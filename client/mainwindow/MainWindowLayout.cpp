#include "mainwindow/MainWindowLayout.h"

#include "ui_frmMain.h"

#include "common/Twips.h"

#include <QContextMenuEvent>
#include <QIcon>
#include <QLayout>
#include <QMainWindow>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QTabBar>

#include <algorithm>

namespace cfb::client {
namespace {

// The restored view, in twips.
constexpr int PictureLeft = 75;
constexpr int BuddyPictureLeft = 2610;
constexpr int PictureWidth = 2460;
constexpr int PictureHeight = 1860;
constexpr int TabStripHeight = 363;
constexpr int WindowHeight = 7260;
// The expanded view, in pixels: the window grows by the pictures' growth.
constexpr int ExpandedGrowth = 122;
constexpr QSize ExpandedPicture(333, 245);

} // namespace

MainWindowLayout::MainWindowLayout(QMainWindow& window, Ui::frmMain& ui)
    : window_(window)
    , ui_(ui)
{
}

int MainWindowLayout::tabStripHeight() const
{
    // Tall enough for the avatars on the tabs even while there is no tab to measure.
    QTabBar probe;
    probe.setFont(ui_.tabBuddies->font());
    probe.setIconSize(BuddyIconSize);
    probe.addTab(QIcon(QPixmap(BuddyIconSize)), QStringLiteral("Wg"));
    return std::max(twipsToPixels(TabStripHeight), probe.sizeHint().height());
}

void MainWindowLayout::measureToolbar()
{
    const bool addVisible = ui_.toolAdd->isVisible();
    const QString blockText = ui_.toolBlock->text();
    ui_.toolAdd->setVisible(true);
    ui_.toolBlock->setText(QStringLiteral("Unblock"));
    toolbarWidth_ = ui_.tool->sizeHint().width();
    ui_.toolAdd->setVisible(addVisible);
    ui_.toolBlock->setText(blockText);
}

void MainWindowLayout::toggleExpanded(QWidget* from)
{
    expanded_ = !expanded_;
    expandedFrom_ = from == ui_.imgBuddy ? static_cast<QWidget*>(ui_.picBuddy) : from;
}

namespace {

// Double-clicks on the picture boxes toggle the expanded view; a right click on the buddy's
// picture offers the voices.
class PictureClicks : public QObject {
public:
    PictureClicks(Ui::frmMain& ui, std::function<void(QWidget*)> toggle, QObject* parent)
        : QObject(parent)
        , ui_(ui)
        , toggle_(std::move(toggle))
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonDblClick) {
            toggle_(qobject_cast<QWidget*>(watched));
            return true;
        }
        if (watched == ui_.imgBuddy && event->type() == QEvent::ContextMenu) {
            ui_.mnuSelectVoice->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
            return true;
        }
        return false;
    }

private:
    Ui::frmMain& ui_;
    std::function<void(QWidget*)> toggle_;
};

} // namespace

void MainWindowLayout::watchPictures(std::function<void(QWidget*)> toggle)
{
    auto* clicks = new PictureClicks(ui_, std::move(toggle), &window_);
    for (QWidget* picture : {static_cast<QWidget*>(ui_.picVideo), static_cast<QWidget*>(ui_.imgPic),
             static_cast<QWidget*>(ui_.picBuddy), static_cast<QWidget*>(ui_.imgBuddy)})
        picture->installEventFilter(clicks);
}

void MainWindowLayout::apply()
{
    const bool expanded = expanded_;
    QWidget* const expandedFrom = expandedFrom_;
    const int width = std::max(twipsToPixels(BuddyPictureLeft + PictureWidth + PictureLeft), toolbarWidth_);
    const int height = twipsToPixels(WindowHeight) + (expanded ? ExpandedGrowth : 0);
    window_.setFixedSize(width, height);
    if (QLayout* layout = window_.layout())
        layout->activate();

    const int margin = twipsToPixels(PictureLeft);
    const QSize frame = ui_.centralwidget->size();
    ui_.frameBuddy->setGeometry(0, 0, frame.width(), frame.height());

    const int tabTop = 4;
    const int tabHeight = tabStripHeight();
    ui_.tabBuddies->setGeometry(margin, tabTop, width - 2 * margin, tabHeight);

    const int pictureTop = tabTop + tabHeight + 4;
    const QRect small(margin, pictureTop, twipsToPixels(PictureWidth), twipsToPixels(PictureHeight));
    const QRect buddySmall(twipsToPixels(BuddyPictureLeft), pictureTop, small.width(), small.height());
    const QRect large(QPoint(margin, pictureTop), ExpandedPicture);
    const bool buddyLarge = expanded && expandedFrom == ui_.picBuddy;
    const bool videoLarge = expanded && !buddyLarge;

    ui_.picVideo->setGeometry(videoLarge ? large : small);
    ui_.imgPic->setGeometry(videoLarge ? large : small);
    ui_.picBuddy->setGeometry(buddyLarge ? large : videoLarge ? large : buddySmall);
    ui_.imgBuddy->setGeometry(0, 0, ui_.picBuddy->width(), ui_.picBuddy->height());
    // The user's box is one place: the video, or the picture just sent in front of it. The
    // buddy's enlarged picture covers it, so it is hidden then rather than drawn over that.
    ui_.picVideo->setVisible(!buddyLarge && !ownPicture_);
    ui_.imgPic->setVisible(!buddyLarge);
    ui_.picBuddy->setVisible(!videoLarge);
    (ownPicture_ ? ui_.imgPic : ui_.picVideo)->raise();

    const int pictureBottom = pictureTop + (expanded ? ExpandedPicture.height() : small.height());
    const int buttonHeight = 28;
    const int buttonsTop = frame.height() - buttonHeight - 4;
    const int messageTop = buttonsTop - 30;
    const int chatTop = pictureBottom + 6;
    const int inner = width - 2 * margin;
    const int stripHeight = strip_ && !strip_->isHidden() ? strip_->sizeHint().height() : 0;
    const int chatBottom = messageTop - 4 - (stripHeight > 0 ? stripHeight + 2 : 0);
    ui_.txtChat->setGeometry(margin, chatTop, inner, std::max(20, chatBottom - chatTop));
    if (stripHeight > 0)
        strip_->setGeometry(margin, chatBottom + 2, inner, stripHeight);
    ui_.txtMessage->setGeometry(margin, messageTop, inner, 26);
    QPushButton* buttons[] = {ui_.cmdSend, ui_.cmdShout, ui_.cmdPic, ui_.cmdFile, ui_.cmdNewWindow};
    constexpr int Count = int(std::size(buttons));
    const int gap = 4;
    const int buttonWidth = (inner - (Count - 1) * gap) / Count;
    for (int i = 0; i < Count; ++i) {
        const int left = margin + i * (buttonWidth + gap);
        const int right = i == Count - 1 ? margin + inner : left + buttonWidth;
        buttons[i]->setGeometry(left, buttonsTop, right - left, buttonHeight);
    }
}

void MainWindowLayout::decorate()
{
    // Eight captioned buttons share the window's width: a compact caption font and tight padding.
    QFont toolFont = ui_.tool->font();
    toolFont.setPointSizeF(toolFont.pointSizeF() * 0.85);
    ui_.tool->setFont(toolFont);
    ui_.tool->setIconSize(QSize(22, 22));
    ui_.tool->setStyleSheet(QStringLiteral("QToolBar { spacing: 0px; padding: 1px; }"
                                           "QToolBar::separator { width: 5px; }"
                                           "QToolButton { padding: 1px 1px; margin: 0px; }"));

    ui_.tabBuddies->setIconSize(BuddyIconSize);
    ui_.tabBuddies->setExpanding(false);
    ui_.tabBuddies->setUsesScrollButtons(true);
    ui_.tabBuddies->setElideMode(Qt::ElideRight);
    ui_.txtChat->setOpenLinks(false);

    const QString pictureStyle = QStringLiteral("background: #1d2733; border: 1px solid #0f151c; border-radius: 4px;");
    ui_.picVideo->setStyleSheet(QStringLiteral("QLabel#picVideo { %1 }").arg(pictureStyle));
    ui_.imgPic->setStyleSheet(QStringLiteral("QLabel#imgPic { %1 }").arg(pictureStyle));
    ui_.picBuddy->setStyleSheet(QStringLiteral("QFrame#picBuddy { %1 }").arg(pictureStyle));
}

} // namespace cfb::client
