#pragma once

#include <cstdint>

namespace cfb {

// The one-second timer of a hidden window; each tick reaches the window as message 275 with the
// timer's id as wParam.
class ivTimer {
public:
    ivTimer() = default;
    ~ivTimer();
    ivTimer(const ivTimer&) = delete;
    ivTimer& operator=(const ivTimer&) = delete;

    // Stops any earlier timer, then starts one on the window; TimerID is -1 when that fails.
    void CreateTimer(int32_t hwnd);
    void DestroyTimer();
    int32_t TimerID() const { return id_; }

private:
    int32_t id_ = -1;
    int32_t hwnd_ = 0;
};

} // namespace cfb
