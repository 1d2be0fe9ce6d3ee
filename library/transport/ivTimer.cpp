#include "transport/ivTimer.h"

#include "transport/ivhWnd.h"

namespace cfb {

ivTimer::~ivTimer()
{
    DestroyTimer();
}

void ivTimer::CreateTimer(int32_t hwnd)
{
    DestroyTimer();
    ivhWnd* window = ivhWnd::FromHandle(hwnd);
    if (!window)
        return;
    const int id = window->startTimer(1000);
    if (id <= 0)
        return;
    id_ = id;
    hwnd_ = hwnd;
}

void ivTimer::DestroyTimer()
{
    if (id_ != -1) {
        if (ivhWnd* window = ivhWnd::FromHandle(hwnd_))
            window->killTimer(id_);
    }
    id_ = -1;
    hwnd_ = 0;
}

} // namespace cfb
