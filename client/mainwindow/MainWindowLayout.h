#pragma once

#include <QSize>

#include <functional>

class QMainWindow;
class QWidget;

namespace Ui {
class frmMain;
}

namespace cfb::client {

// Where the main window's controls sit. The restored view keeps the pictures at their twips sizes,
// side by side; the expanded view shows the picture that was double-clicked at 333 x 245 pixels and
// grows the window to match.
class MainWindowLayout {
public:
    // The size of a buddy's avatar on its tab.
    static constexpr QSize BuddyIconSize{45, 60};

    MainWindowLayout(QMainWindow& window, Ui::frmMain& ui);

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
    Ui::frmMain& ui_;
    int toolbarWidth_ = 0;
    bool expanded_ = false;
    bool ownPicture_ = false;
    QWidget* expandedFrom_ = nullptr;
    QWidget* strip_ = nullptr;
};

} // namespace cfb::client
