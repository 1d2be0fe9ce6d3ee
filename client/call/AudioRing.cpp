#include "call/AudioRing.h"

#include <algorithm>
#include <cstring>

namespace cfb::client {

AudioRing::AudioRing(int capacitySamples)
    : samples_(size_t(std::max(capacitySamples, 1)))
{
}

void AudioRing::write(const int16_t* samples, int count)
{
    const int capacity = int(samples_.size());
    if (count <= 0)
        return;
    if (count > capacity) { // only the newest fit
        samples += count - capacity;
        count = capacity;
    }
    const QMutexLocker lock(&mutex_);
    const int overflow = size_ + count - capacity;
    if (overflow > 0) {
        start_ = (start_ + overflow) % capacity;
        size_ -= overflow;
    }
    int end = (start_ + size_) % capacity;
    for (int done = 0; done < count;) {
        const int run = std::min(count - done, capacity - end);
        std::memcpy(samples_.data() + end, samples + done, size_t(run) * sizeof(int16_t));
        done += run;
        end = (end + run) % capacity;
    }
    size_ += count;
}

int AudioRing::read(int16_t* samples, int count)
{
    if (count <= 0)
        return 0;
    const int capacity = int(samples_.size());
    const QMutexLocker lock(&mutex_);
    const int held = std::min(count, size_);
    for (int done = 0; done < held;) {
        const int run = std::min(held - done, capacity - start_);
        std::memcpy(samples + done, samples_.data() + start_, size_t(run) * sizeof(int16_t));
        done += run;
        start_ = (start_ + run) % capacity;
    }
    size_ -= held;
    std::fill(samples + held, samples + count, int16_t(0));
    return held;
}

int AudioRing::available() const
{
    const QMutexLocker lock(&mutex_);
    return size_;
}

void AudioRing::clear()
{
    const QMutexLocker lock(&mutex_);
    start_ = size_ = 0;
}

} // namespace cfb::client
