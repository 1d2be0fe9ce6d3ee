#pragma once

#include <QString>

class QLabel;
class QStatusBar;
class QSystemTrayIcon;

namespace cfb::client {

// The main window's status bar: four panels numbered from 1 (the signed-in handle, the user's
// presence, whether video goes to the selected buddy, the video format), the call's panel (shown
// only while a call rings or is on), and the note shown while a request waits on the service.
class StatusPanels {
public:
    enum Panel { Handle = 1, Presence = 2, Video = 3, VideoFormat = 4, Count = 4 };

    explicit StatusPanels(QStatusBar& bar);

    // Panels outside 1 to Count have no text and take none.
    QString text(int panel) const;
    QString toolTip(int panel) const;
    void setText(int panel, const QString& text);
    // The call's panel: its text ("Call with amelia 1:05") and tooltip; empty text hides it.
    void showCall(const QString& text, const QString& toolTip);
    QString callText() const;
    QString callToolTip() const;

    // The handle's tooltip says whether what the client tells the service (the password's cipher
    // text above all) is readable on the way.
    void showServiceConnection();
    // "Connecting to the Confabo service..." while a request has waited a second.
    void showServiceSlow(bool slow);
    // "Cannot reach the Confabo service; trying again..." from a poll that found no service to
    // the next one that reaches it; a slow request's note shows meanwhile, then this again.
    void showServiceUnreachable(bool unreachable);
    // A problem the user must act on: in the status bar for a minute, as a notification where
    // the notification area shows them, and in the event log.
    void announceProblem(const QString& text, QSystemTrayIcon* tray);

private:
    QStatusBar& bar_;
    QLabel* panels_[Count] = {};
    QLabel* call_ = nullptr;
    bool unreachable_ = false;
};

} // namespace cfb::client
