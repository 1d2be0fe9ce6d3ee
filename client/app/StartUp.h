#pragma once

#include <functional>

class QWidget;

namespace cfb::client {

class SingleInstance;

// The program's start: hands over to a running instance (which comes to the front) and ends;
// otherwise answers later starts from now on (bringing mainWindow() to the front), shows the
// splash unless "AutoRun" is 1 (it gives way to the first window that opens), starts load (the
// main window's load, sign-in included), which calls ended once the load is over, and closes the
// splash then if it is still up. A run-time error on the way (a non-numeric "AutoRun" among them,
// or ended(false)) is reported as "failed to load" and ends the program. Ending goes through
// exitProgram, which runs the main window's exit sequence and does not return (tests have it
// throw); otherwise RunStartUp returns once the load has started.
using LoadEnded = std::function<void(bool ok)>;
struct StartUpSteps {
    std::function<void(const LoadEnded& ended)> load;
    // The main window; nullptr before load has made it.
    std::function<QWidget*()> mainWindow;
    std::function<void()> exitProgram;
};
void RunStartUp(SingleInstance& instance, const StartUpSteps& steps);

// "AutoRun" as a number (default 0); throws std::invalid_argument when the text is no number.
int readAutoRun();

// Brings a window to the front, showing it when it is hidden or minimised.
void bringToFront(QWidget* window);

} // namespace cfb::client
