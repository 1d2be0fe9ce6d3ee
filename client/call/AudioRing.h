#pragma once

#include <QMutex>

#include <cstdint>
#include <vector>

namespace cfb::client {

// Samples handed between an audio device's thread and the call's, through a fixed ring guarded
// by a mutex (held only to copy). A writer that gets ahead of the reader drops the oldest
// samples, so the delay it adds stays under the ring's length; a reader that finds too few gets
// silence for the rest.
class AudioRing {
public:
    explicit AudioRing(int capacitySamples);

    void write(const int16_t* samples, int count);
    // Fills count samples, silence past what is held; returns how many were held.
    int read(int16_t* samples, int count);
    int available() const;
    void clear();

private:
    mutable QMutex mutex_;
    std::vector<int16_t> samples_;
    int start_ = 0; // the oldest sample held
    int size_ = 0;
};

} // namespace cfb::client
