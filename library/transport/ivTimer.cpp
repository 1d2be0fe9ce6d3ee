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
    m_id = id;
    m_hwnd = hwnd;
}

void ivTimer::DestroyTimer()
{
    if (m_id != -1) {
        if (ivhWnd* window = ivhWnd::FromHandle(m_hwnd))
            window->killTimer(m_id);
    }
    m_id = -1;
    m_hwnd = 0;
}

} // namespace cfb
