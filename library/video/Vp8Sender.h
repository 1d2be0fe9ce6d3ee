#pragma once

#include "video/Vp8Encoder.h"

#include <QSize>

#include <cstdint>
#include <vector>

namespace cfb {

// One conversation's outgoing VP8: the encoder set to the rate the path carries now, and the
// picture size and frame rate that rate affords. When the bits a pixel gets fall too low the
// stream steps down (every second frame, then half the size, ...), and it steps back up when the
// rate affords the richer step, at least StepUpAfterMs after the last step; each step opens the
// encoder anew (a key frame). Key frames a receiver asks for are sent at most every KeyFrameMs.
// Pictures scaled down go through one buffer kept from frame to frame: nothing is allocated per
// frame.
class Vp8Sender {
public:
    struct Step {
        int divide; // of the width and height
        int skip; // one frame sent in skip
    };
    static constexpr Step Steps[] = {{1, 1}, {1, 2}, {2, 1}, {2, 2}, {4, 2}};
    static constexpr int StepCount = int(sizeof Steps / sizeof Steps[0]);
    // Bits per pixel below which a step is too rich for the rate, and above which the richer one
    // is taken again.
    static constexpr double StepDownBits = 0.04;
    static constexpr double StepUpBits = 0.06;
    static constexpr int StepUpAfterMs = 3000;
    static constexpr int KeyFrameMs = 500;

    // The picture coded for this frame, at targetKbps (from the path's rate); invalid when this
    // frame is skipped for the step's rate, or on failure. Valid until the next call.
    Vp8EncodedFrame encode(const I420View& picture, int captureRate, int targetKbps, int64_t now);
    // The receiver lost pictures: the next frame allowed is a key frame.
    void keyFrameAsked() { keyAsked_ = true; }

    // What goes out now: the coded size, the frame rate, the target.
    QSize size() const { return {encoder_.settings().width, encoder_.settings().height}; }
    int frameRate() const { return encoder_.settings().frameRate; }
    int targetKbps() const { return encoder_.isOpen() ? encoder_.settings().targetKbps : 0; }
    int step() const { return step_; }
    // What the pictures came at.
    QSize capturedSize() const { return captured_; }
    int captureRate() const { return captureRate_; }
    QString errorString() const { return encoder_.errorString(); }

    // The step a rate affords for pictures of this size at this rate.
    static int stepFor(QSize size, int captureRate, int kbps, int current);

private:
    I420View scaled(const I420View& picture, int divide);

    Vp8Encoder encoder_;
    std::vector<uint8_t> scaled_;
    QSize captured_;
    int captureRate_ = 0;
    int step_ = -1;
    int64_t stepAt_ = 0;
    unsigned counter_ = 0;
    bool keyAsked_ = false;
    int64_t keySentAt_ = -1;
};

} // namespace cfb
