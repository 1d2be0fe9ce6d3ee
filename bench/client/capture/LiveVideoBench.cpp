// Live video end to end on loopback, 640x480 at 30 fps: the main window signed in to the real
// service with the test pattern as camera, sending to a buddy whose client (a library object on a
// thread of its own, as another process would be) raises VideoFrame. Measures, over 10 s each:
//  - the CPU time of the user-interface thread (from /proc ticks), as a share of one core;
//  - capture to VideoFrame at the receiver (the frame's capture time to the event), median and p99.
// The reference, run first in the same process against the same receiver: the bare path without
// the window (pattern source, FrameSender, Buddy::SendFrame on a plain event loop).
//
//   bench_live_video [seconds [noise]]   noise: grain amplitude added to the pattern (0..127), for a
//                                        picture as hard to compress as a camera's
#include "FreeDataPort.h"
#include "ServiceProcess.h"
#include "TempConfig.h"
#include "mainwindow/frmMain.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "platform/Settings.h"
#include "protocol/SkipJack.h"
#include "video/CaptureSource.h"
#include "video/FrameSender.h"
#include "video/MainVideo.h"
#include "video/PatternSource.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

using namespace cfb;
using namespace cfb::client;

namespace {

constexpr QSize FrameSize(640, 480);
constexpr int Rate = 30;

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// User plus system clock ticks of one thread of this process.
long threadTicks(long tid)
{
    QFile file(QStringLiteral("/proc/self/task/%1/stat").arg(tid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = file.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    // After the name: state is field 3, utime 14 and stime 15.
    return fields.size() > 12 ? fields[11].toLong() + fields[12].toLong() : -1;
}

struct Sent {
    qint64 capturedNs;
    qsizetype bytes;
};
struct Received {
    qint64 arrivedNs;
    qsizetype bytes;
};

// The buddy's client: a library object on its own thread, recording when each frame's VideoFrame
// is raised.
class Receiver : public QObject {
public:
    void open()
    {
        tid = long(syscall(SYS_gettid));
        confabo = std::make_unique<Confabo>();
        connect(confabo.get(), &Confabo::VideoFrameBytes, this,
            [this](QString&, QByteArray& bytes) { last = bytes.size(); });
        connect(confabo.get(), &Confabo::VideoFrame, this, [this](QString&, QImage& picture) {
            const qint64 at = nowNs();
            if (picture.size() != FrameSize)
                return;
            std::lock_guard lock(mutex);
            frames.push_back({at, last});
        });
    }
    std::vector<Received> take()
    {
        std::lock_guard lock(mutex);
        return std::exchange(frames, {});
    }

    long tid = 0;
    std::unique_ptr<Confabo> confabo;
    qsizetype last = 0;
    std::mutex mutex;
    std::vector<Received> frames;
};

// The capture time of a frame handled now, on the monotonic clock.
qint64 capturedAt(const CaptureSource& source, const I420Frame& frame)
{
    return nowNs() - (source.elapsedUs() - frame.timestampUs) * 1000;
}

struct Result {
    double cpuShare = 0; // of one core, user-interface thread
    double receiverShare = 0;
    size_t sent = 0, matched = 0;
    double medianMs = 0, p99Ms = 0;
};

// Pairs each arrival with the next sent frame of the same size, in order.
Result latencies(const std::vector<Sent>& sent, const std::vector<Received>& received)
{
    Result r;
    r.sent = sent.size();
    std::vector<double> ms;
    size_t i = 0;
    for (const Received& arrival : received) {
        while (i < sent.size() && sent[i].bytes != arrival.bytes)
            ++i;
        if (i == sent.size())
            break;
        ms.push_back(double(arrival.arrivedNs - sent[i].capturedNs) / 1e6);
        ++i;
    }
    r.matched = ms.size();
    if (!ms.empty()) {
        std::sort(ms.begin(), ms.end());
        r.medianMs = ms[ms.size() / 2];
        r.p99Ms = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
    }
    return r;
}

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs for `seconds`, giving the CPU shares of this thread and the receiver's over that time.
void measure(int seconds, Receiver& receiver, Result& r)
{
    runFor(1000); // settle
    receiver.take();
    const long ticks = sysconf(_SC_CLK_TCK);
    const long self = getpid();
    const long a0 = threadTicks(self), b0 = threadTicks(receiver.tid);
    const qint64 t0 = nowNs();
    runFor(seconds * 1000);
    const double wall = double(nowNs() - t0) / 1e9;
    r.cpuShare = double(threadTicks(self) - a0) / double(ticks) / wall;
    r.receiverShare = double(threadTicks(receiver.tid) - b0) / double(ticks) / wall;
}

void print(const char* name, const Result& r)
{
    std::printf("%-34s UI thread %5.1f %% of a core, receiver %5.1f %%, capture->VideoFrame median %6.2f ms, p99 "
                "%6.2f ms (%zu of %zu frames paired)\n",
        name, 100 * r.cpuShare, 100 * r.receiverShare, r.medianMs, r.p99Ms, r.matched, r.sent);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    const int noise = argc > 2 ? atoi(argv[2]) : 0;

    TempConfig config;
    ServiceProcess service;
    if (!service.isRunning()) {
        std::fprintf(stderr, "no service: %s\n", qPrintable(service.errorText()));
        return 1;
    }
    SkipJack::SkipjackInit();
    const QString pw = SkipJack::EncipherPassword(QStringLiteral("pw"));
    Settings::ServiceHost.write(service.serverSetting());
    Settings::PollingInterval.write(QStringLiteral("30"));
    Settings::BlockAllData.write(QStringLiteral("True"));
    Confabo carol, amy;
    if (!carol.Register("cordelia", pw, "cordelia@example.org") || !amy.Register("amelia", pw, "amelia@example.org")
        || !carol.Login("cordelia", pw, "127.0.0.1") || carol.AddBuddy("amelia") != "amelia"
        || !amy.Login("amelia", pw, "127.0.0.1")) {
        std::fprintf(stderr, "cannot set up the accounts\n");
        return 1;
    }
    carol.Logout();
    Settings::BlockAllData.erase();
    const QString port = freeDataPort();
    Settings::DataPort.write(port);
    Settings::VideoWidth.write(QString::number(FrameSize.width()));
    Settings::VideoHeight.write(QString::number(FrameSize.height()));
    Settings::FrameRate.write(QString::number(Rate));
    Settings::ImageQuality.write(QStringLiteral("75"));

    // amelia's client holds the data port (so the window, on the same machine, sends to it).
    QThread thread;
    Receiver receiver;
    receiver.moveToThread(&thread);
    thread.start();
    QMetaObject::invokeMethod(
        &receiver, [&receiver] { receiver.open(); }, Qt::BlockingQueuedConnection);

    // Reference: the bare path on a plain event loop.
    Result bare;
    {
        PatternSource pattern(FrameSize, Rate);
        pattern.setHandle("cordelia");
        pattern.setNoise(noise);
        FrameSender sender;
        sender.loadQuality();
        Buddy toAmy;
        toAmy.LoadByHandle("amelia");
        std::vector<Sent> sent;
        sent.reserve(size_t(Rate) * (seconds + 3));
        QObject::connect(&pattern, &CaptureSource::frameReady, [&](const I420Frame& frame) {
            const qint64 at = capturedAt(pattern, frame);
            if (sender.send(frame, &toAmy, "cordelia", int16_t(port.toInt())) == FrameSender::Result::Sent)
                sent.push_back({at, sender.lastJpegSize()});
        });
        pattern.start();
        measure(seconds, receiver, bare);
        pattern.stop();
        runFor(200);
        const double cpu = bare.cpuShare, rcv = bare.receiverShare;
        bare = latencies(sent, receiver.take());
        bare.cpuShare = cpu;
        bare.receiverShare = rcv;
    }

    // The client: the main window, video on for the selected buddy.
    Settings::IsRegistered.write(QStringLiteral("1"));
    Settings::AutoLogin.write(QStringLiteral("1"));
    Settings::Handle.write(QStringLiteral("cordelia"));
    Settings::Password.write(pw);
    Settings::HostName.write(QStringLiteral("127.0.0.1"));
    Settings::EnableSpeech.write(QStringLiteral("0"));
    Result client;
    {
        frmMain window;
        window.setVideoSourceOption(QStringLiteral("pattern"));
        window.Load();
        if (!window.video() || !window.video()->source() || !window.SelBuddy()) {
            std::fprintf(stderr, "the window has no video or no buddy\n");
            return 1;
        }
        std::vector<Sent> sent;
        sent.reserve(size_t(Rate) * (seconds + 3));
        CaptureSource* source = window.video()->source();
        if (auto* pattern = qobject_cast<PatternSource*>(source))
            pattern->setNoise(noise);
        const FrameSender& sender = window.video()->sender();
        // Connected after the window's own hook, so it runs once the frame went out.
        QObject::connect(source, &CaptureSource::frameReady, [&](const I420Frame& frame) {
            if (sender.lastJpegSize() > 0)
                sent.push_back({capturedAt(*source, frame), sender.lastJpegSize()});
        });
        window.findChild<QAction*>("toolVideo")->trigger();
        measure(seconds, receiver, client);
        window.Unload();
        runFor(200);
        const double cpu = client.cpuShare, rcv = client.receiverShare;
        client = latencies(sent, receiver.take());
        client.cpuShare = cpu;
        client.receiverShare = rcv;
    }
    QMetaObject::invokeMethod(
        &receiver, [&receiver] { receiver.confabo.reset(); }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();

    std::printf("%dx%d at %d fps for %d s, loopback, pattern noise %d\n", FrameSize.width(), FrameSize.height(), Rate,
        seconds, noise);
    print("bare path (reference)", bare);
    print("main window, video on", client);
    if (bare.cpuShare > 0 && bare.medianMs > 0)
        std::printf("ratios window / bare: CPU %.2fx, median latency %.2fx, p99 %.2fx\n",
            client.cpuShare / bare.cpuShare, client.medianMs / bare.medianMs, client.p99Ms / bare.p99Ms);
    return 0;
}
