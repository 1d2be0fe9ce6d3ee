#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QWidget;

namespace cfb::client {

class BuddyTabs;
class ChatTranscript;
class ClientSession;

// What the main window tells the user about the encrypted channel: a buddy's key that changed
// or went missing, as a notice in the buddy's transcript (and, for a buddy whose key the user had
// verified, the question whether to accept the new one); and, once after sign-in, that this
// client has no key it can use, so that everything goes unencrypted.
class SecurityNotices : public QObject {
public:
    // refresh draws the tabs' marks anew after a key was accepted.
    SecurityNotices(QWidget& window, ClientSession& session, BuddyTabs& tabs, std::function<void()> refresh);

    // The warning about the own key, when there is one to give; once for the life of the window.
    void announceIdentityProblem();

private:
    void keyChanged(const QString& handle, bool verified);
    void plainRefused(const QString& handle);

    QWidget& window_;
    ClientSession& session_;
    BuddyTabs& tabs_;
    std::function<void()> refresh_;
    bool identityAnnounced_ = false;
};

} // namespace cfb::client
