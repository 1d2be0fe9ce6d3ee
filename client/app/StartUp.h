#pragma once

#include <functional>

class QWidget;

namespace cfb::client {

class SingleInstance;

// The program's start: hands over to a running instance (which comes to the front) and ends;
// otherwise answers later starts from now on, shows the splash unless "AutoRun" is 1 (it gives
// way to the first window that opens), runs loadMainWindow (the main window's load, sign-in
// included) and closes the splash if it is still up. A run-time
// error on the way (a non-numeric "AutoRun" among them) is reported as "failed to load" and ends
// the program. Ending goes through modMain::ExitApplication; otherwise it returns once the main
// window is loaded.
void RunStartUp(SingleInstance& instance, const std::function<void()>& loadMainWindow);

// "AutoRun" as a number (default 0); throws std::invalid_argument when the text is no number.
int readAutoRun();

// Brings a window to the front, showing it when it is hidden or minimised.
void bringToFront(QWidget* window);

} // namespace cfb::client
