// One outgoing video frame: SetBits + JPGBuffer of the image class against the bare work it wraps,
// YUVFrame into a bitmap buffer and tjCompress2 from those bottom-up rows (quality 75, 4:2:0).
#include "RatioReporter.h"
#include "YUVFrame.h"
#include "YuvKernels.h"
#include "imaging/cDIBSection.h"

#include <turbojpeg.h>

#include <cmath>
#include <random>
#include <string>

namespace {

// A camera-like frame: smooth shapes plus a little sensor noise.
QByteArray cameraFrame(int w, int h)
{
    QByteArray frame(w * h + 2 * (w / 2) * (h / 2), Qt::Uninitialized);
    std::mt19937 rng(5);
    auto* p = reinterpret_cast<uint8_t*>(frame.data());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            p[y * w + x] = static_cast<uint8_t>(110 + 60 * std::sin(x * 0.03) * std::cos(y * 0.05) + rng() % 8);
    uint8_t* u = p + w * h;
    uint8_t* v = u + (w / 2) * (h / 2);
    for (int y = 0; y < h / 2; ++y)
        for (int x = 0; x < w / 2; ++x) {
            u[y * (w / 2) + x] = static_cast<uint8_t>(128 + 30 * std::sin(x * 0.05) + rng() % 3);
            v[y * (w / 2) + x] = static_cast<uint8_t>(128 + 30 * std::cos(y * 0.07) + rng() % 3);
        }
    return frame;
}

void BM_SetBitsJPGBuffer(benchmark::State& state)
{
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    const QByteArray frame = cameraFrame(w, h);
    cfb::cDIBSection dib;
    cfb::BITMAPINFO info{};
    info.bmiHeader = {40, w, h, 1, 24, cfb::BI_RGB, 0, 0, 0, 0, 0};
    uintptr_t handle = 0;
    if (!dib.CreateDIBEx(nullptr, &info, handle))
        return state.SkipWithError("CreateDIBEx failed");
    dib.setJPGQuality(75);
    std::size_t bytes = 0;
    for (auto _ : state) {
        if (!dib.SetBits(frame, true))
            return state.SkipWithError("SetBits failed (is libpixmill.so beside libconfabo.so?)");
        const QByteArray jpeg = dib.JPGBuffer();
        bytes = jpeg.size();
        benchmark::DoNotOptimize(jpeg.constData());
    }
    state.counters["jpeg_bytes"] = static_cast<double>(bytes);
}

void BM_YUVFrameTjCompress2(benchmark::State& state)
{
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    const QByteArray frame = cameraFrame(w, h);
    const auto* y = reinterpret_cast<const uint8_t*>(frame.constData());
    const uint8_t* u = y + w * h;
    const uint8_t* v = u + (w / 2) * (h / 2);
    const int stride = static_cast<int>(pixmill::rowStride(w));
    std::vector<uint8_t> bgr(std::size_t(stride) * h);
    tjhandle tj = tjInitCompress();
    std::vector<uint8_t> out(tjBufSize(w, h, TJSAMP_420));
    std::size_t bytes = 0;
    for (auto _ : state) {
        YUVFrame(y, u, v, bgr.data(), w, h);
        unsigned char* buf = out.data();
        unsigned long size = out.size();
        tjCompress2(
            tj, bgr.data(), w, stride, h, TJPF_BGR, &buf, &size, TJSAMP_420, 75, TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC);
        bytes = size;
        benchmark::DoNotOptimize(buf);
    }
    tjDestroy(tj);
    state.counters["jpeg_bytes"] = static_cast<double>(bytes);
}

void sizes(benchmark::internal::Benchmark* b)
{
    b->Args({320, 240})->Args({640, 480})->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_YUVFrameTjCompress2)->Apply(sizes);
BENCHMARK(BM_SetBitsJPGBuffer)->Apply(sizes);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter({{"BM_SetBitsJPGBuffer/320/240", "BM_YUVFrameTjCompress2/320/240"},
        {"BM_SetBitsJPGBuffer/640/480", "BM_YUVFrameTjCompress2/640/480"}});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios("Speed of SetBits + JPGBuffer against YUVFrame + tjCompress2 (1/ratio = time factor):");
    benchmark::Shutdown();
    return 0;
}
