#pragma once

#include <QCursor>
#include <QGuiApplication>

namespace cfb::client {

// The hourglass pointer while the object lives and is shown, restored on every path; a routine
// that waits for the user midway releases it and shows it again.
class BusyCursor {
public:
    explicit BusyCursor(bool shown = true)
    {
        if (shown)
            show();
    }
    ~BusyCursor() { release(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

    void show()
    {
        if (!active_)
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        active_ = true;
    }
    void release()
    {
        if (active_)
            QGuiApplication::restoreOverrideCursor();
        active_ = false;
    }

private:
    bool active_ = false;
};

} // namespace cfb::client
