#pragma once

#include <QString>

#include <functional>

class QLineEdit;
class QWidget;

// The services every window of the desktop client shares.
namespace cfb::client::modMain {

inline constexpr const char* AppTitle = "Confabo";

// Event types of ReportError, as the event log knows them.
inline constexpr int EventError = 1;
inline constexpr int EventWarning = 2;
inline constexpr int EventInformation = 4;

// Writes the description to the event log (syslog) with the given event type; shows it in a
// message box only when show is true and the "Display Errors" setting is exactly "1".
void ReportError(const QString& description, int eventType, bool show);

// Opens the help window at a context topic; 0 opens the default topic. True when it opened.
bool ShowHelp(int topic);

// Selects the whole text of a field (called when a text field gets the focus).
void SelectAllText(QLineEdit* field);

// The main window registers itself here while it is loaded, with the routine that unloads it (its
// exit sequence), so ExitApplication can unload it and the popup can reach its tray menu item
// "Open..." (the QAction named "mnuPopupOpen"). Registering nullptr forgets it.
void setMainWindow(QWidget* mainWindow, std::function<void()> unload);
QWidget* mainWindow();

// The dialogs, each opened modally from this one place: the setup dialog (registering a new
// account while nobody is signed in, else editing the profile and settings; modal over owner),
// the buddy-list editor and the invitation dialog. False when the dialog was not shown: each
// needs a loaded main window, which supplies them (setDialogOpeners) since it owns what they
// work on.
struct DialogOpeners {
    std::function<bool(QWidget* owner)> setup;
    std::function<bool(QWidget* owner)> firstRegistration;
    std::function<bool(QWidget* owner)> buddyListEditor;
    std::function<bool(QWidget* owner)> invite;
};
void setDialogOpeners(DialogOpeners openers);
bool ShowSetupDialog(QWidget* owner);
// The setup dialog registering the first account of an installation, modal over owner. It leaves
// telling the user of the new account to the caller (the sign-in that follows does, together with
// the service's welcome). True when an account was registered.
bool ShowFirstRegistration(QWidget* owner);
bool ShowBuddyListEditor(QWidget* owner);
bool ShowInviteDialog(QWidget* owner);

// Unloads the main window if it is loaded (its exit sequence runs), then ends the process through
// the exit hook. Call it only from a routine that returns straight to its caller afterwards
// (never from inside a Qt event handler that an exception could not leave): tests install a hook
// that throws, the program's default hook ends the process.
[[noreturn]] void ExitApplication();
void setExitHook(std::function<void()> hook);

// The program's own Yes/No question (the sliding popup): 6 for Yes, 7 for No. Waits in a nested
// event loop, so other events keep running and questions can nest.
int PopupMsgBox(const QString& prompt, const QString& title, int helpContext, bool* dontAskAgain = nullptr);

} // namespace cfb::client::modMain
