#pragma once

#include "video/I420Frame.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdint>
#include <functional>
#include <vector>

// Lets the event loop run until the predicate holds or the time is up.
inline bool waitUntil(const std::function<bool()>& done, int milliseconds = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// A copy of a frame's planes, kept after the frame's call returned.
struct KeptFrame {
    int width = 0, height = 0;
    qint64 timestampUs = 0;
    std::vector<uint8_t> y, u, v;

    explicit KeptFrame(const cfb::client::I420Frame& f)
        : width(f.width)
        , height(f.height)
        , timestampUs(f.timestampUs)
    {
        const auto copy = [](std::vector<uint8_t>& to, const uint8_t* from, int stride, int w, int h) {
            to.resize(std::size_t(w) * h);
            for (int r = 0; r < h; ++r)
                std::copy(from + std::size_t(r) * stride, from + std::size_t(r) * stride + w,
                    to.begin() + std::size_t(r) * w);
        };
        copy(y, f.y, f.strideY, f.width, f.height);
        copy(u, f.u, f.strideU, f.chromaWidth(), f.chromaHeight());
        copy(v, f.v, f.strideV, f.chromaWidth(), f.chromaHeight());
    }
};
