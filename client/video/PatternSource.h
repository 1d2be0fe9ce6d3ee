#pragma once

#include "video/I420Buffer.h"
#include "video/TimedCaptureSource.h"

#include <QImage>

#include <array>

namespace cfb::client {

// A moving test picture of our own, so video works on machines without a camera: colour bars
// that slide sideways over the upper part, and below them a running clock and the user's handle.
// Drawn straight into I420 planes of the configured size at the configured rate.
class PatternSource : public TimedCaptureSource {
    Q_OBJECT
public:
    explicit PatternSource(QSize size = {160, 120}, int rate = 5, QObject* parent = nullptr);

    QString name() const override { return QStringLiteral("pattern"); }
    QString description() const override { return tr("Test pattern"); }

    void setHandle(const QString& handle) { handle_ = handle; }
    QString handle() const { return handle_; }
    // Grain of up to +/- amplitude added to every sample (0: none), to make the picture as hard to
    // compress as a dark, noisy camera picture.
    void setNoise(int amplitude) { noise_ = amplitude < 0 ? 0 : (amplitude > 127 ? 127 : amplitude); }

    // Draws the picture for the given time into the source's buffer, without delivering it.
    I420Frame render(qint64 timestampUs);

protected:
    void produceFrame(qint64 timestampUs) override;

private:
    void drawBars(int top, int bottom, qint64 timestampUs);
    void drawCaption(int top);
    void addNoise();

    I420Buffer picture_;
    QImage caption_; // the clock and the handle, grey levels, redrawn when their text changes
    QString captionText_;
    std::array<uint8_t, 256> grayToLuma_{};
    QString handle_;
    int noise_ = 0;
    uint32_t noiseState_ = 0x9E3779B9u;
};

} // namespace cfb::client
