#pragma once

#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace cfb::client {

class ClientSession;
class SessionDialogs;
class SpeechEngine;

struct SignInFields {
    QString handle;
    QString password;
    QString hostname;
    bool speakIt = true;
    // The account was registered by this run's first-run form.
    bool newAccount = false;
};

// The sign-in sequence the main window runs in its load: on the first run the registration form
// (which welcomes the user itself), the sign-in window unless "AutoLogin" is "1", the Login loop
// with its "Login Error" box, "IsRegistered" = "1". A refused sign-in says the login information
// is invalid; a service that cannot be reached is named with the reason, and Retry tries again
// with the same handle and password. What the service says at sign-in comes in one box after it,
// together with the news of a registration made just before. done gets the fields after a
// successful sign-in, and nothing when the user cancelled (or the session closed meanwhile): the
// caller ends the program then. speech may be nullptr (nothing is spoken). The sign-in runs on
// the session's service thread: done is called from the event loop once it has answered (at once
// when the user cancelled the sign-in window). The registration form and the sign-in window's
// Register open through dialogs.
void RunSignInSequence(ClientSession& session, SpeechEngine* speech, QWidget* owner, SessionDialogs& dialogs,
    std::function<void(std::optional<SignInFields>)> done);

} // namespace cfb::client
