// The sources that need no camera, running for real on the event loop: the test pattern and a
// Y4M file deliver frames of the configured size at about the configured rate, follow a size
// change while running, and the factory picks the source the option or the setting names.
#include "platform/Settings.h"
#include "video/CaptureSourceFactory.h"
#include "video/PatternSource.h"
#include "video/Y4mSource.h"

#include "CaptureTestSupport.h"
#include "TempConfig.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace cfb;
using namespace cfb::client;

namespace {

// Frames a source delivers, kept.
struct Collected {
    std::vector<KeptFrame> frames;
    void attach(CaptureSource& source)
    {
        QObject::connect(&source, &CaptureSource::frameReady, [this](const I420Frame& f) { frames.emplace_back(f); });
    }
    // Frames per second over the frames from index `from` on.
    double rate(std::size_t from) const
    {
        const std::size_t n = frames.size() - from;
        return n < 2 ? 0 : (n - 1) * 1e6 / double(frames.back().timestampUs - frames[from].timestampUs);
    }
};

// A Y4M file of `count` flat pictures, picture i with luma 20 + 40 i and chroma 100 + i.
QByteArray y4m(int w, int h, int count, const QByteArray& header = "C420jpeg Ip A1:1")
{
    QByteArray file
        = "YUV4MPEG2 W" + QByteArray::number(w) + " H" + QByteArray::number(h) + " F30000:1001 " + header + "\n";
    const int chroma = ((w + 1) / 2) * ((h + 1) / 2);
    for (int i = 0; i < count; ++i) {
        file += i == 1 ? "FRAME Ixyz\n" : "FRAME\n";
        file += QByteArray(w * h, char(20 + 40 * i));
        file += QByteArray(2 * chroma, char(100 + i));
    }
    return file;
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile f(dir.filePath(name));
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return f.fileName();
}

} // namespace

TEST(CaptureSources, PatternRunsAtItsRateAndFollowsASizeChange)
{
    PatternSource pattern({160, 120}, 20);
    pattern.setHandle("Amy");
    Collected got;
    got.attach(pattern);
    ASSERT_TRUE(pattern.start());
    ASSERT_TRUE(waitUntil([&] { return got.frames.size() >= 12; }));
    EXPECT_EQ(got.frames.front().width, 160);
    EXPECT_EQ(got.frames.front().height, 120);
    EXPECT_GT(got.rate(0), 6.0); // loose: a loaded machine fires timers late, never early
    EXPECT_LT(got.rate(0), 24.0);

    ASSERT_TRUE(pattern.setFrameSize({320, 240}));
    const std::size_t changed = got.frames.size();
    ASSERT_TRUE(waitUntil([&] { return got.frames.size() >= changed + 6; }));
    for (std::size_t i = changed; i < got.frames.size(); ++i)
        EXPECT_EQ(QSize(got.frames[i].width, got.frames[i].height), QSize(320, 240));
    EXPECT_FALSE(pattern.setFrameSize({0, 240}));
    EXPECT_FALSE(pattern.setFrameRate(0));
    pattern.stop();
    const std::size_t stopped = got.frames.size();
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(got.frames.size(), stopped);

    // The bars move: half a second later the top row is another picture; the caption band
    // holds text (bright and dark samples), the bars none of the caption's grey.
    const KeptFrame a(pattern.render(0)), b(pattern.render(500000));
    EXPECT_NE(
        std::vector<uint8_t>(a.y.begin(), a.y.begin() + 320), std::vector<uint8_t>(b.y.begin(), b.y.begin() + 320));
    const auto [low, high] = std::minmax_element(a.y.begin() + 170 * 320, a.y.end());
    EXPECT_LT(*low, 60);
    EXPECT_GT(*high, 200);
}

TEST(CaptureSources, Y4mFilePlaysInALoopScaledToTheConfiguredSize)
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, "clip.y4m", y4m(64, 48, 3) + "FRAME\n" + QByteArray(100, 'x'));
    Y4mSource clip(path, {64, 48}, 30);
    ASSERT_TRUE(clip.open()) << clip.errorString().toStdString();
    Collected got;
    got.attach(clip);
    ASSERT_TRUE(clip.start());
    ASSERT_TRUE(waitUntil([&] { return got.frames.size() >= 7; }));
    // Three whole pictures (the truncated fourth is left out), in order, over and over.
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(got.frames[i].y[100], 20 + 40 * (i % 3)) << i;
        EXPECT_EQ(got.frames[i].v[10], 100 + (i % 3)) << i;
    }
    EXPECT_GT(got.rate(0), 10.0);

    ASSERT_TRUE(clip.setFrameSize({160, 120}));
    const std::size_t changed = got.frames.size();
    ASSERT_TRUE(waitUntil([&] { return got.frames.size() >= changed + 4; }));
    const KeptFrame& scaled = got.frames.back();
    EXPECT_EQ(QSize(scaled.width, scaled.height), QSize(160, 120));
    EXPECT_EQ(scaled.y[160 * 60 + 80], scaled.y[0]) << "a flat picture stays flat";
    EXPECT_TRUE(scaled.y[0] == 20 || scaled.y[0] == 60 || scaled.y[0] == 100);
}

TEST(CaptureSources, Y4mFilesThatCannotBePlayedAreRefusedWithAReason)
{
    QTemporaryDir dir;
    struct Bad {
        const char* name;
        QByteArray bytes;
        const char* says;
    };
    const Bad bad[] = {
        {"text.y4m", "hello, world\n", "not a Y4M"},
        {"422.y4m", y4m(16, 16, 1, "C422"), "C422"},
        {"444.y4m", y4m(16, 16, 1, "C444"), "only 4:2:0"},
        {"mono.y4m", y4m(16, 16, 1, "Cmono"), "Cmono"},
        {"deep.y4m", y4m(16, 16, 1, "C420p10"), "C420p10"},
        {"nowidth.y4m", "YUV4MPEG2 H16 F25:1\nFRAME\n" + QByteArray(384, 0), "size"},
        {"zero.y4m", y4m(0, 16, 1), "size"},
        {"huge.y4m", "YUV4MPEG2 W99999999999 H16\n", "size"},
        {"rate.y4m", "YUV4MPEG2 W16 H16 F25:0\n", "rate"},
        {"noline.y4m", "YUV4MPEG2 W16 H16" + QByteArray(5000, ' '), "damaged"},
        {"short.y4m", y4m(16, 16, 1).chopped(1), "no complete picture"},
        {"empty.y4m", "", "cannot be read"},
    };
    for (const Bad& b : bad) {
        Y4mSource source(writeFile(dir, b.name, b.bytes));
        EXPECT_FALSE(source.open()) << b.name;
        EXPECT_TRUE(source.errorString().contains(b.says)) << b.name << ": " << source.errorString().toStdString();
        EXPECT_FALSE(source.start()) << b.name;
    }
    Y4mSource missing(dir.filePath("missing.y4m"));
    EXPECT_FALSE(missing.open());
    EXPECT_TRUE(missing.errorString().contains("cannot be opened"));
}

TEST(CaptureSources, TheOptionWinsOverTheSettingAndBadChoicesGiveNoSource)
{
    TempConfig config;
    QTemporaryDir dir;
    const QString clip = writeFile(dir, "clip.y4m", y4m(32, 24, 2));
    Settings::VideoWidth.write("320");
    Settings::VideoHeight.write("240");
    Settings::FrameRate.write("12");

    Settings::VideoSource.write("pattern");
    QString error;
    auto source = createCaptureSource({}, "Amy", &error);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->name(), "pattern");
    EXPECT_EQ(source->frameSize(), QSize(320, 240));
    EXPECT_EQ(source->frameRate(), 12);
    EXPECT_EQ(static_cast<PatternSource*>(source.get())->handle(), "Amy");

    source = createCaptureSource(clip, {}, &error);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->name(), clip);

    Settings::VideoSource.write(dir.filePath("gone.y4m"));
    source = createCaptureSource({}, {}, &error);
    EXPECT_FALSE(source);
    EXPECT_TRUE(error.contains("cannot be opened")) << error.toStdString();
    source = createCaptureSource("pattern", {}, &error);
    EXPECT_TRUE(source) << "the option wins";
    EXPECT_TRUE(error.isEmpty());

    source = createCaptureSource("camera:no-such-device", {}, &error);
    EXPECT_FALSE(source);
    EXPECT_TRUE(error.contains("no-such-device"));

    // Settings that make no sense fall back to the usual 160x120 at 5 frames per second.
    Settings::VideoWidth.write("-4");
    Settings::FrameRate.write("fast");
    source = createCaptureSource("pattern");
    ASSERT_TRUE(source);
    EXPECT_EQ(source->frameSize(), QSize(160, 120));
    EXPECT_EQ(source->frameRate(), 5);

    EXPECT_EQ(videoSourceOption({"confabo", "--video-source", "pattern"}), "pattern");
    EXPECT_EQ(videoSourceOption({"confabo", "--video-source=/tmp/a b.y4m"}), "/tmp/a b.y4m");
    EXPECT_EQ(videoSourceOption({"confabo", "--video-source"}), "");
    EXPECT_EQ(videoSourceOption({"confabo", "pattern"}), "");
}
