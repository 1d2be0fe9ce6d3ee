#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>
#include <utility>

namespace cfb::client {

class CaptureSource;

// Makes the capture source that the command-line option `--video-source` names, or, when the
// option is empty, the "Video Source" setting: "camera" (or empty) for the first camera,
// "camera:DEVICE-ID" for that camera, "pattern" for the test pattern, anything else the path of a
// .y4m file. Size and rate come from "Video Width", "Video Height" and "Frame Rate", or, where they
// were never set, are the size and rate VP8 sends at (640x480, 30 a second; a camera that does
// not offer them gives what it has nearest). The source is
// not started. nullptr when there is no such source (no camera at all, a camera that is not
// connected, a file that cannot be played); *error then says why, empty for "no camera".
// handle is shown in the test pattern.
std::unique_ptr<CaptureSource> createCaptureSource(
    const QString& commandLineOption, const QString& handle = {}, QString* error = nullptr);

inline constexpr QSize Vp8DefaultSize {640, 480};
inline constexpr int Vp8DefaultRate = 30;

// What JPEG to a buddy without VP8 goes at when the capture runs at the VP8 defaults: the
// settings' own defaults (160x120, 5 a second). An invalid size (a rate of 0) where the user
// set the size (the rate): JPEG then goes as captured.
std::pair<QSize, int> jpegFormatBesideVp8();

// The value of `--video-source VALUE` or `--video-source=VALUE` in a program's arguments; empty
// when it is not there.
QString videoSourceOption(const QStringList& arguments);

} // namespace cfb::client
