// The question popup: its answers, the title-bar close, where it slides to, nested questions and
// the session telling the windows while questions are open (the tray's "Open..." waits).
#include "StartupTestSupport.h"

#include "common/frmPopup.h"
#include "common/modMain.h"
#include "session/ClientSession.h"

#include <QAction>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>

#include <gtest/gtest.h>

using namespace cfb::client;
using namespace startup_test;

namespace {

frmPopup* popupTitled(const QString& title)
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* popup = qobject_cast<frmPopup*>(w); popup && popup->isVisible() && popup->windowTitle() == title)
            return popup;
    }
    return nullptr;
}

// Runs action once a visible popup with the title exists (from inside the waiting question).
void whenPopup(QObject* scope, const QString& title, const std::function<void(frmPopup*)>& action)
{
    auto* timer = new QTimer(scope);
    QObject::connect(timer, &QTimer::timeout, [timer, title, action] {
        if (frmPopup* popup = popupTitled(title)) {
            timer->stop();
            action(popup);
        }
    });
    timer->start(5);
}

class PopupTest : public ::testing::Test {
protected:
    PopupTest()
    {
        // As the main window's "Open..." follows the session's questions.
        QObject::connect(
            &session_, &ClientSession::questionsOpen, &open_, [this](bool asking) { open_.setEnabled(!asking); });
    }

    ClientSession session_{nullptr};
    QAction open_{QStringLiteral("Open...")};
    QObject scope_;
};

TEST_F(PopupTest, AnswersSlideInFromTheCornerAndTitleBarCloseCountsAsNo)
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QPointer<frmPopup> answeredYes;
    bool openDisabled = false;
    int leftAtStart = -1;
    whenPopup(&scope_, "Confabo - Invite Users", [&](frmPopup* popup) {
        openDisabled = !open_.isEnabled();
        leftAtStart = popup->x();
        EXPECT_EQ(popup->findChild<QLabel*>("lblMessage")->text(), "Shall we?");
        EXPECT_EQ(popup->helpContext(), 144);
        EXPECT_TRUE(popup->windowFlags() & Qt::WindowStaysOnTopHint);
        ASSERT_TRUE(waitFor([popup] { return popup->slidIn(); }));
        answeredYes = popup;
        popup->findChild<QPushButton*>("cmdOK")->click();
    });
    EXPECT_EQ(session_.popupQuestion("Shall we?", "Confabo - Invite Users", 144), 6);
    EXPECT_TRUE(openDisabled);
    EXPECT_TRUE(open_.isEnabled());
    ASSERT_TRUE(answeredYes);
    // 200 twips from the right edge at 15 twips a pixel; it never moved sideways; it ended within
    // one 10-twip step of 500 twips above the bottom.
    EXPECT_EQ(leftAtStart, screen.x() + screen.width() - answeredYes->width() - 13);
    EXPECT_EQ(answeredYes->x(), leftAtStart);
    const int bottomGapTwips = (screen.height() - answeredYes->height()) * 15 - answeredYes->topTwips();
    EXPECT_GE(bottomGapTwips, 500 - 10);
    EXPECT_LE(bottomGapTwips, 500);
    // The caller's close slides it out below the screen and then it goes.
    ASSERT_TRUE(waitFor([&] { return answeredYes.isNull(); }));

    // The title bar's close answers No and is refused: the window stays until the caller closes it.
    bool stayedOpen = false;
    whenPopup(&scope_, "Closing", [&](frmPopup* popup) {
        popup->close();
        stayedOpen = popup->isVisible();
    });
    EXPECT_EQ(modMain::PopupMsgBox("Close me", "Closing", 0), 7);
    EXPECT_TRUE(stayedOpen);

    // "&No" answers No and closes the window itself.
    QPointer<frmPopup> saidNo;
    whenPopup(&scope_, "Saying no", [&](frmPopup* popup) {
        saidNo = popup;
        popup->findChild<QPushButton*>("cmdNo")->click();
    });
    EXPECT_EQ(modMain::PopupMsgBox("No?", "Saying no", 0), 7);
    ASSERT_TRUE(waitFor([&] { return saidNo.isNull() && !popupTitled("Closing"); }));
}

TEST_F(PopupTest, NestedQuestionsReturnInNestingOrder)
{
    QStringList returns;
    int innerAnswer = 0;
    bool openEnabledAfterInner = true;
    whenPopup(&scope_, "First", [&](frmPopup*) {
        // A second question opens while the first one waits (as a message from a stranger would).
        QTimer::singleShot(0, &scope_, [&] {
            innerAnswer = session_.popupQuestion("Second question", "Second", 0);
            returns << "second";
            openEnabledAfterInner = open_.isEnabled();
        });
    });
    whenPopup(&scope_, "Second", [&](frmPopup* second) {
        // The first question is answered first, yet it returns only after the second.
        popupTitled("First")->findChild<QPushButton*>("cmdOK")->click();
        second->findChild<QPushButton*>("cmdNo")->click();
    });

    const int outerAnswer = session_.popupQuestion("First question", "First", 0);
    returns << "first";

    EXPECT_EQ(returns, (QStringList{"second", "first"}));
    EXPECT_EQ(outerAnswer, 6);
    EXPECT_EQ(innerAnswer, 7);
    EXPECT_FALSE(openEnabledAfterInner) << "the first question is still open";
    EXPECT_TRUE(open_.isEnabled());
}

} // namespace
