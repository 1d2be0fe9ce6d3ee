#include "channel/CongestionWindow.h"

#include <algorithm>
#include <cstdlib>

namespace cfb {

int64_t CongestionWindow::timeoutMs() const
{
    const int64_t base = srttUs_ > 0 ? (srttUs_ + std::max<int64_t>(4 * rttVarUs_, 10000)) / 1000 : 1000;
    return std::min(std::max(base, MinTimeoutMs) << std::min(backoff_, 6), MaxTimeoutMs);
}

void CongestionWindow::onRttSample(int64_t rttUs)
{
    rttUs = std::max<int64_t>(rttUs, 1);
    if (srttUs_ == 0) {
        srttUs_ = rttUs;
        rttVarUs_ = rttUs / 2;
    } else {
        rttVarUs_ = (3 * rttVarUs_ + std::llabs(srttUs_ - rttUs)) / 4;
        srttUs_ = (7 * srttUs_ + rttUs) / 8;
    }
    backoff_ = 0;
}

void CongestionWindow::onAcked(int acked)
{
    for (int i = 0; i < acked; ++i)
        window_ += window_ < threshold_ ? 1.0 : 1.0 / window_;
    window_ = std::min(window_, MaxWindow);
}

void CongestionWindow::onLoss(int64_t sentUs, int64_t nowUs)
{
    if (sentUs <= recoveryUntilUs_)
        return;
    window_ = std::max(window_ * 0.7, MinWindow);
    threshold_ = window_;
    recoveryUntilUs_ = nowUs;
}

void CongestionWindow::onTimeout(int64_t nowUs)
{
    threshold_ = std::max(window_ * 0.5, MinWindow);
    window_ = MinWindow;
    recoveryUntilUs_ = nowUs;
    ++backoff_;
}

double CongestionWindow::pacePerSecond() const
{
    if (srttUs_ <= 0)
        return 1e9; // no estimate yet: the initial window goes at once
    return 1.25 * window_ * 1e6 / double(srttUs_);
}

} // namespace cfb
