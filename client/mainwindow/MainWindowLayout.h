#pragma once

#include <QSize>

#include <array>
#include <functional>

class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QMainWindow;
class QMenu;
class QPushButton;
class QTabBar;
class QTextBrowser;
class QToolBar;
class QWidget;

namespace cfb::client {

// Where the main window's controls sit. The restored view keeps the pictures at their twips sizes,
// side by side; the expanded view shows the picture that was double-clicked at 333 x 245 pixels and
// grows the window to match.
class MainWindowLayout {
public:
    // The size of a buddy's avatar on its tab.
    static constexpr QSize BuddyIconSize{45, 60};

    // The window's controls this places and decorates, by their names in the window's form.
    struct Controls {
        QWidget* centralwidget;
        QFrame* frameBuddy;
        QToolBar* tool;
        QAction* toolAdd; // measured shown, with "Unblock" on toolBlock
        QAction* toolBlock;
        QTabBar* tabBuddies;
        QLabel* picVideo;
        QLabel* imgPic;
        QFrame* picBuddy;
        QLabel* imgBuddy;
        QTextBrowser* txtChat;
        QLineEdit* txtMessage;
        // Send, Shout, Picture, File, New Window, left to right.
        std::array<QPushButton*, 5> buttons;
        QMenu* mnuSelectVoice; // a right click on imgBuddy opens it
    };

    MainWindowLayout(QMainWindow& window, const Controls& controls);

    // The look of the controls: a compact toolbar, the tab strip's behaviour, the picture boxes.
    void decorate();

    // Measures the toolbar at its widest (a stranger selected, "Add" shown, "Unblock" captioned),
    // so the window never pushes "Exit" into the toolbar's overflow menu. Call once the toolbar
    // is built.
    void measureToolbar();
    // Sizes the window and places every control, for the restored or the expanded view.
    void apply();
    // The files on their way, between the conversation and the message box while shown.
    void setTransferStrip(QWidget* strip) { strip_ = strip; }

    // Expanded view: the picture double-clicked (or the buddy's) enlarged, the window taller.
    bool isExpanded() const { return expanded_; }
    // Whether the user's box shows a picture just sent (imgPic) in front of the video (picVideo);
    // apply() stacks them so, in either view.
    void showOwnPicture(bool on) { ownPicture_ = on; }
    bool showsOwnPicture() const { return ownPicture_; }
    void toggleExpanded(QWidget* from);
    // Double-clicks on the picture boxes call toggle; a right click on the buddy's picture offers
    // the voices.
    void watchPictures(std::function<void(QWidget*)> toggle);

private:
    int tabStripHeight() const;

    QMainWindow& window_;
    Controls controls_;
    int toolbarWidth_ = 0;
    bool expanded_ = false;
    bool ownPicture_ = false;
    QWidget* expandedFrom_ = nullptr;
    QWidget* strip_ = nullptr;
};

} // namespace cfb::client
