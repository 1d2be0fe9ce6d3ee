#include "mainwindow/MainWindowLayout.h"

#include "common/Twips.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QTabBar>
#include <QTextBrowser>
#include <QToolBar>

#include <algorithm>
#include <type_traits>

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

MainWindowLayout::MainWindowLayout(QMainWindow& window, const Controls& controls)
    : window_(window)
    , controls_(controls)
{
}

int MainWindowLayout::tabStripHeight() const
{
    // Tall enough for the avatars on the tabs even while there is no tab to measure.
    QTabBar probe;
    probe.setFont(controls_.tabBuddies->font());
    probe.setIconSize(BuddyIconSize);
    probe.addTab(QIcon(QPixmap(BuddyIconSize)), QStringLiteral("Wg"));
    return std::max(twipsToPixels(TabStripHeight), probe.sizeHint().height());
}

void MainWindowLayout::measureToolbar()
{
    const bool addVisible = controls_.toolAdd->isVisible();
    const QString blockText = controls_.toolBlock->text();
    controls_.toolAdd->setVisible(true);
    controls_.toolBlock->setText(QStringLiteral("Unblock"));
    toolbarWidth_ = controls_.tool->sizeHint().width();
    controls_.toolAdd->setVisible(addVisible);
    controls_.toolBlock->setText(blockText);
}

void MainWindowLayout::toggleExpanded(QWidget* from)
{
    expanded_ = !expanded_;
    expandedFrom_ = from == controls_.imgBuddy ? static_cast<QWidget*>(controls_.picBuddy) : from;
}

namespace {

// Double-clicks on the picture boxes toggle the expanded view; a right click on the buddy's
// picture offers the voices.
class PictureClicks : public QObject {
public:
    PictureClicks(QWidget* buddyPicture, QMenu* voices, std::function<void(QWidget*)> toggle, QObject* parent)
        : QObject(parent)
        , buddyPicture_(buddyPicture)
        , voices_(voices)
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
        if (watched == buddyPicture_ && event->type() == QEvent::ContextMenu) {
            voices_->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
            return true;
        }
        return false;
    }

private:
    QWidget* buddyPicture_;
    QMenu* voices_;
    std::function<void(QWidget*)> toggle_;
};

} // namespace

void MainWindowLayout::watchPictures(std::function<void(QWidget*)> toggle)
{
    auto* clicks = new PictureClicks(controls_.imgBuddy, controls_.mnuSelectVoice, std::move(toggle), &window_);
    for (QWidget* picture : {static_cast<QWidget*>(controls_.picVideo), static_cast<QWidget*>(controls_.imgPic),
             static_cast<QWidget*>(controls_.picBuddy), static_cast<QWidget*>(controls_.imgBuddy)})
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
    const QSize frame = controls_.centralwidget->size();
    controls_.frameBuddy->setGeometry(0, 0, frame.width(), frame.height());

    const int tabTop = 4;
    const int tabHeight = tabStripHeight();
    controls_.tabBuddies->setGeometry(margin, tabTop, width - 2 * margin, tabHeight);

    const int pictureTop = tabTop + tabHeight + 4;
    const QRect small(margin, pictureTop, twipsToPixels(PictureWidth), twipsToPixels(PictureHeight));
    const QRect buddySmall(twipsToPixels(BuddyPictureLeft), pictureTop, small.width(), small.height());
    const QRect large(QPoint(margin, pictureTop), ExpandedPicture);
    const bool buddyLarge = expanded && expandedFrom == controls_.picBuddy;
    const bool videoLarge = expanded && !buddyLarge;

    controls_.picVideo->setGeometry(videoLarge ? large : small);
    controls_.imgPic->setGeometry(videoLarge ? large : small);
    controls_.picBuddy->setGeometry(buddyLarge ? large : videoLarge ? large : buddySmall);
    controls_.imgBuddy->setGeometry(0, 0, controls_.picBuddy->width(), controls_.picBuddy->height());
    // The user's box is one place: the video, or the picture just sent in front of it. The
    // buddy's enlarged picture covers it, so it is hidden then rather than drawn over that.
    controls_.picVideo->setVisible(!buddyLarge && !ownPicture_);
    controls_.imgPic->setVisible(!buddyLarge);
    controls_.picBuddy->setVisible(!videoLarge);
    (ownPicture_ ? controls_.imgPic : controls_.picVideo)->raise();

    const int pictureBottom = pictureTop + (expanded ? ExpandedPicture.height() : small.height());
    const int buttonHeight = 28;
    const int buttonsTop = frame.height() - buttonHeight - 4;
    const int messageTop = buttonsTop - 30;
    const int chatTop = pictureBottom + 6;
    const int inner = width - 2 * margin;
    const int stripHeight = strip_ && !strip_->isHidden() ? strip_->sizeHint().height() : 0;
    const int chatBottom = messageTop - 4 - (stripHeight > 0 ? stripHeight + 2 : 0);
    controls_.txtChat->setGeometry(margin, chatTop, inner, std::max(20, chatBottom - chatTop));
    if (stripHeight > 0)
        strip_->setGeometry(margin, chatBottom + 2, inner, stripHeight);
    controls_.txtMessage->setGeometry(margin, messageTop, inner, 26);
    const auto& buttons = controls_.buttons;
    constexpr int Count = int(std::tuple_size_v<std::decay_t<decltype(controls_.buttons)>>);
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
    QFont toolFont = controls_.tool->font();
    toolFont.setPointSizeF(toolFont.pointSizeF() * 0.85);
    controls_.tool->setFont(toolFont);
    controls_.tool->setIconSize(QSize(22, 22));
    controls_.tool->setStyleSheet(QStringLiteral("QToolBar { spacing: 0px; padding: 1px; }"
                                           "QToolBar::separator { width: 5px; }"
                                           "QToolButton { padding: 1px 1px; margin: 0px; }"));

    controls_.tabBuddies->setIconSize(BuddyIconSize);
    controls_.tabBuddies->setExpanding(false);
    controls_.tabBuddies->setUsesScrollButtons(true);
    controls_.tabBuddies->setElideMode(Qt::ElideRight);
    controls_.txtChat->setOpenLinks(false);

    const QString pictureStyle = QStringLiteral("background: #1d2733; border: 1px solid #0f151c; border-radius: 4px;");
    controls_.picVideo->setStyleSheet(QStringLiteral("QLabel#picVideo { %1 }").arg(pictureStyle));
    controls_.imgPic->setStyleSheet(QStringLiteral("QLabel#imgPic { %1 }").arg(pictureStyle));
    controls_.picBuddy->setStyleSheet(QStringLiteral("QFrame#picBuddy { %1 }").arg(pictureStyle));
}

} // namespace cfb::client
