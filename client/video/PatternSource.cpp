#include "video/PatternSource.h"

#include <QFont>
#include <QPainter>
#include <QTime>

#include <algorithm>
#include <cstring>

namespace cfb::client {
namespace {

struct Yuv {
    uint8_t y, u, v;
};

// 75 % colour bars (white, yellow, cyan, green, magenta, red, blue, black) in BT.601 studio range.
constexpr Yuv kBars[8] = {
    {180, 128, 128},
    {162, 44, 142},
    {131, 156, 44},
    {112, 72, 58},
    {84, 184, 198},
    {65, 100, 212},
    {35, 212, 114},
    {16, 128, 128},
};

} // namespace

PatternSource::PatternSource(QSize size, int rate, QObject* parent)
    : TimedCaptureSource(size, rate, parent)
{
    for (int g = 0; g < 256; ++g)
        grayToLuma_[g] = uint8_t(16 + (g * 219 + 127) / 255);
}

void PatternSource::produceFrame(qint64 timestampUs)
{
    const I420Frame frame = render(timestampUs);
    if (frame.isValid())
        deliver(frame);
}

I420Frame PatternSource::render(qint64 timestampUs)
{
    if (picture_.size() != frameSize() && !picture_.resize(frameSize()))
        return {};
    const int h = picture_.height();
    // Two lines of text need about 24 rows; tiny pictures get bars only.
    const int captionTop = h >= 48 ? h - std::max(24, h / 3) : h;
    drawBars(0, captionTop, timestampUs);
    if (captionTop < h)
        drawCaption(captionTop);
    if (noise_ > 0)
        addNoise();
    return picture_.frame(timestampUs);
}

void PatternSource::drawBars(int top, int bottom, qint64 timestampUs)
{
    const int w = picture_.width(), cw = picture_.chromaWidth();
    // The bars travel a quarter of the picture's width per second.
    const qint64 shift = (timestampUs * w / 4 / 1000000) % w;
    uint8_t* y = picture_.y();
    uint8_t* u = picture_.u();
    uint8_t* v = picture_.v();
    if (top >= bottom)
        return;
    uint8_t* firstY = y + std::size_t(top) * w;
    for (int x = 0; x < w; ++x)
        firstY[x] = kBars[(x + shift) % w * 8 / w].y;
    for (int row = top + 1; row < bottom; ++row)
        std::memcpy(y + std::size_t(row) * w, firstY, std::size_t(w));
    const int cTop = top / 2, cBottom = (bottom + 1) / 2;
    uint8_t* firstU = u + std::size_t(cTop) * cw;
    uint8_t* firstV = v + std::size_t(cTop) * cw;
    for (int cx = 0; cx < cw; ++cx) {
        const Yuv& bar = kBars[(std::min(2 * cx, w - 1) + shift) % w * 8 / w];
        firstU[cx] = bar.u;
        firstV[cx] = bar.v;
    }
    for (int row = cTop + 1; row < cBottom; ++row) {
        std::memcpy(u + std::size_t(row) * cw, firstU, std::size_t(cw));
        std::memcpy(v + std::size_t(row) * cw, firstV, std::size_t(cw));
    }
}

void PatternSource::drawCaption(int top)
{
    const int w = picture_.width(), h = picture_.height(), bandHeight = h - top;
    const QString text = QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) + QLatin1Char('\n') + handle_;
    if (caption_.width() != w || caption_.height() != bandHeight || text != captionText_) {
        if (caption_.width() != w || caption_.height() != bandHeight)
            caption_ = QImage(w, bandHeight, QImage::Format_Grayscale8);
        caption_.fill(40);
        QPainter painter(&caption_);
        QFont font = painter.font();
        font.setPixelSize(std::max(8, bandHeight * 2 / 5));
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(caption_.rect(), Qt::AlignCenter, text);
        captionText_ = text;
    }
    uint8_t* y = picture_.y();
    for (int row = 0; row < bandHeight; ++row) {
        const uchar* from = caption_.constScanLine(row);
        uint8_t* to = y + std::size_t(top + row) * w;
        for (int x = 0; x < w; ++x)
            to[x] = grayToLuma_[from[x]];
    }
    // The band is grey: neutral chroma from the first chroma row wholly inside it.
    const int cw = picture_.chromaWidth(), cTop = (top + 1) / 2, cBottom = picture_.chromaHeight();
    for (int row = cTop; row < cBottom; ++row) {
        std::memset(picture_.u() + std::size_t(row) * cw, 128, std::size_t(cw));
        std::memset(picture_.v() + std::size_t(row) * cw, 128, std::size_t(cw));
    }
}

void PatternSource::addNoise()
{
    uint32_t s = noiseState_;
    const int span = 2 * noise_ + 1;
    const auto grain = [&s, span](uint8_t* p, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            s ^= s << 13;
            s ^= s >> 17;
            s ^= s << 5;
            const int value = p[i] + int(s % uint32_t(span)) - (span / 2);
            p[i] = uint8_t(std::clamp(value, 16, 235));
        }
    };
    grain(picture_.y(), std::size_t(picture_.width()) * picture_.height());
    grain(picture_.u(), std::size_t(picture_.chromaWidth()) * picture_.chromaHeight() * 2);
    noiseState_ = s;
}

} // namespace cfb::client
