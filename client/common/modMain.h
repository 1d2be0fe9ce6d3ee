#pragma once

#include <QString>

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
// message box over the active window only when show is true and the "Display Errors" setting is
// exactly "1".
void ReportError(const QString& description, int eventType, bool show);

// Opens the help window at a context topic; 0 opens the default topic. True when it opened.
bool ShowHelp(int topic);

// Selects the whole text of a field (called when a text field gets the focus).
void SelectAllText(QLineEdit* field);

// Ends the process, without running static destructors (they would meet the live application
// object and the speech thread); the settings are written through at every change, so nothing is
// left to save. The exit main() hands the windows runs the main window's exit sequence first.
[[noreturn]] void ExitApplication();

// The program's own Yes/No question (the sliding popup): 6 for Yes, 7 for No. Waits in a nested
// event loop, so other events keep running and questions can nest. ClientSession::popupQuestion
// asks through this and tells the windows while questions are open.
int PopupMsgBox(const QString& prompt, const QString& title, int helpContext, bool* dontAskAgain = nullptr);

} // namespace cfb::client::modMain
