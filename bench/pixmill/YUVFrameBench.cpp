// YUVFrame against libyuv's I420ToRGB24 (same blue-green-red byte order, written bottom-up through
// a negative stride). libyuv rounds differently, so it only races; exactness is the tests' job.
#include "RatioReporter.h"
#include "YUVFrame.h"
#include "YuvKernels.h"

#include <libyuv/convert_argb.h>

#include <random>
#include <string>
#include <vector>

namespace {

struct Frame {
    int w, h;
    std::vector<uint8_t> y, u, v, out;
    Frame(int w_, int h_)
        : w(w_)
        , h(h_)
        , y(std::size_t(w_) * h_)
        , u(std::size_t(w_ / 2) * (h_ / 2))
        , v(u.size())
        , out(pixmill::rowStride(w_) * h_)
    {
        std::mt19937 rng(w_);
        for (auto* p : {&y, &u, &v})
            for (auto& b : *p)
                b = static_cast<uint8_t>(rng());
    }
};

void runKernel(benchmark::State& state, pixmill::Kernel kernel)
{
    Frame f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        kernel(f.y.data(), f.u.data(), f.v.data(), f.out.data(), f.w, f.h);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * f.w * f.h);
}

void BM_YUVFrame(benchmark::State& state)
{
    runKernel(state, &YUVFrame);
}
void BM_Scalar(benchmark::State& state)
{
    runKernel(state, &pixmill::convertScalar);
}
void BM_Sse41(benchmark::State& state)
{
    if (!pixmill::cpuHasSse41())
        return state.SkipWithError("no SSE4.1");
    runKernel(state, &pixmill::convertSse41);
}
void BM_Avx2(benchmark::State& state)
{
    if (!pixmill::cpuHasAvx2())
        return state.SkipWithError("no AVX2");
    runKernel(state, &pixmill::convertAvx2);
}

void BM_LibyuvI420ToRGB24(benchmark::State& state)
{
    Frame f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const int stride = static_cast<int>(pixmill::rowStride(f.w));
    for (auto _ : state) {
        libyuv::I420ToRGB24(f.y.data(), f.w, f.u.data(), f.w / 2, f.v.data(), f.w / 2,
            f.out.data() + std::size_t(f.h - 1) * stride, -stride, f.w, f.h);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * f.w * f.h);
}

void sizes(benchmark::internal::Benchmark* b)
{
    b->Args({160, 120})->Args({640, 480})->Args({1280, 720});
}

BENCHMARK(BM_LibyuvI420ToRGB24)->Apply(sizes);
BENCHMARK(BM_YUVFrame)->Apply(sizes);
BENCHMARK(BM_Avx2)->Apply(sizes);
BENCHMARK(BM_Sse41)->Apply(sizes);
BENCHMARK(BM_Scalar)->Apply(sizes);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const char* size : {"160/120", "640/480", "1280/720"})
        for (const char* name : {"BM_YUVFrame", "BM_Avx2", "BM_Sse41", "BM_Scalar"})
            pairs.emplace_back(std::string(name) + "/" + size, std::string("BM_LibyuvI420ToRGB24/") + size);
    RatioReporter reporter(pairs);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios("Speed against libyuv I420ToRGB24 (above 1 = faster):");
    benchmark::Shutdown();
    return 0;
}
