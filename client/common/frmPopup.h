#pragma once

#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <memory>

namespace Ui {
class frmPopup;
}

namespace cfb::client {

// The program's own Yes/No question: a small top-most window that slides up from below the bottom
// right corner of the screen when it is first shown and slides down again when the program closes
// it. "&Yes" answers 6 and leaves the window to its caller; "&No" answers 7 and closes it; a close
// by the user (title bar, system menu) answers 7 and is refused, the caller closes it.
//
// Positions are worked out in twips at 15 per pixel: 200 twips from the right edge, the slide-in
// ending within one 10-twip step of 500 twips above the bottom edge. Each slide moves in steps of
// 10 twips, a few steps per timer tick, so it takes a fraction of a second and never blocks.
class frmPopup : public QWidget {
    Q_OBJECT
public:
    static constexpr int RightMarginTwips = 200;
    static constexpr int BottomMarginTwips = 500;
    static constexpr int StepTwips = 10;

    explicit frmPopup(QWidget* parent = nullptr);
    ~frmPopup() override;

    void setPrompt(const QString& prompt);
    QString prompt() const;
    // Offers a "Don't ask again" box under the question; whether the user checked it.
    void offerDontAskAgain();
    bool dontAskAgain() const;

    // Kept with the window and its label; F1 opens the help at it.
    void setHelpContext(int context);
    int helpContext() const { return helpContext_; }

    // 0 while unanswered, 6 for Yes, 7 for No.
    int16_t MsgBoxResult() const { return result_; }
    // Waits in a nested event loop until the question is answered (or the program quits, which
    // counts as No) and returns the answer. Other events run meanwhile, so waits may nest.
    int waitForAnswer();

    // The program's close: slides the window out, then closes it (it deletes itself then).
    // Does nothing when it is already closing.
    void closeByProgram();

    bool slidIn() const { return slidIn_; }
    bool sliding() const { return timer_.isActive(); }
    // The screen-relative top the slide-in aims at, and the current top, in twips.
    int targetTopTwips() const;
    int topTwips() const { return topTwips_; }

signals:
    void answered(int result);
    void slideInFinished();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    enum class Slide { None, In, Out };

    void answer(int result);
    void cmdNo_Click();
    void placeAtLoad();
    void moveToTop();
    void tick();
    QRect screenRect() const;

    std::unique_ptr<Ui::frmPopup> ui;
    int16_t result_ = 0;
    int helpContext_ = 0;
    bool slidIn_ = false;
    bool closing_ = false;
    bool closedByProgram_ = false;
    int leftPixels_ = 0;
    int topTwips_ = 0;
    Slide slide_ = Slide::None;
    QTimer timer_;
};

} // namespace cfb::client
