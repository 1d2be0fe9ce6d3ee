#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class QLabel;

namespace cfb::client {

// Says "Video stopped" across the bottom of the buddy's picture box when the selected buddy's
// video stops coming: frames that arrived as a stream (one within a few seconds of the one before)
// and then none for a few seconds. A single frame (a picture sent) is no stream and gets no
// caption. The next frame, or another buddy's tab, takes the caption away.
class VideoStopCaption : public QObject {
    Q_OBJECT

public:
    explicit VideoStopCaption(QLabel& box, QObject* parent = nullptr);

    // The buddy whose frames the box shows now; an empty handle for none.
    void follow(const QString& handle);
    // A frame from handle was shown in the box.
    void frameShown(const QString& handle);

    bool isShown() const;

    static constexpr int StreamGapMs = 3000; // frames at most this far apart are a stream
    static constexpr int StoppedAfterMs = 4000;

private:
    void place();
    void stopped();

    QLabel& box_;
    QLabel* caption_;
    QString handle_;
    QElapsedTimer lastFrame_;
    bool streaming_ = false;
    QTimer silence_;
};

} // namespace cfb::client
