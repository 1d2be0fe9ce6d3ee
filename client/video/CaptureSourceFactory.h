#pragma once

#include <QString>
#include <QStringList>

#include <memory>

namespace cfb::client {

class CaptureSource;

// Makes the capture source that the command-line option `--video-source` names, or, when the
// option is empty, the "Video Source" setting: "camera" (or empty) for the first camera,
// "camera:DEVICE-ID" for that camera, "pattern" for the test pattern, anything else the path of a
// .y4m file. Size and rate come from "Video Width", "Video Height" and "Frame Rate". The source is
// not started. nullptr when there is no such source (no camera at all, a camera that is not
// connected, a file that cannot be played); *error then says why, empty for "no camera".
// handle is shown in the test pattern.
std::unique_ptr<CaptureSource> createCaptureSource(
    const QString& commandLineOption, const QString& handle = {}, QString* error = nullptr);

// The value of `--video-source VALUE` or `--video-source=VALUE` in a program's arguments; empty
// when it is not there.
QString videoSourceOption(const QStringList& arguments);

} // namespace cfb::client
