// One 640x480 camera-like picture after another (tests/support's moving pattern): VP8 encode and
// decode through Vp8Encoder/Vp8Decoder against today's JPEG of the same pictures (PlanarJpegEncoder
// at quality 75), and against the bare libvpx calls the classes wrap. Each case also reports the
// bytes per frame and the luma PSNR it reaches, measured outside the timed loop. Then the encode
// alone at 1280x720 against 640x480, at a rate per pixel alike: what the setup dialog's largest
// size costs the capture thread.
#include "MovingPattern.h"
#include "RatioReporter.h"
#include "video/PlanarJpegEncoder.h"
#include "video/Vp8Decoder.h"
#include "video/Vp8Encoder.h"

#include <turbojpeg.h>
#include <vpx/vp8cx.h>
#include <vpx/vp8dx.h>
#include <vpx/vpx_decoder.h>
#include <vpx/vpx_encoder.h>

#include <algorithm>
#include <map>
#include <vector>

namespace {

constexpr int W = 640, H = 480, Fps = 30, Frames = 60, JpegQuality = 75;

// A clip, made once per size: Frames pictures of the moving pattern, tightly packed.
struct Clip {
    std::vector<std::vector<uint8_t>> planes;
    std::vector<cfb::I420View> views;
    Clip(int w, int h)
    {
        MovingPattern pattern(w, h);
        for (int i = 0; i < Frames; ++i) {
            const cfb::I420View v = pattern.frame(i);
            const std::size_t luma = std::size_t(w) * h, chroma = luma / 4;
            std::vector<uint8_t> p(luma + 2 * chroma);
            std::copy(v.y, v.y + luma, p.begin());
            std::copy(v.u, v.u + chroma, p.begin() + luma);
            std::copy(v.v, v.v + chroma, p.begin() + luma + chroma);
            planes.push_back(std::move(p));
        }
        for (auto& p : planes)
            views.push_back({p.data(), p.data() + w * h, p.data() + w * h + w * h / 4, w, w / 2, w / 2, w, h});
    }
};

const Clip& clip(int w = W, int h = H)
{
    static std::map<std::pair<int, int>, Clip> clips;
    return clips.try_emplace({w, h}, w, h).first->second;
}

cfb::client::I420Frame clientFrame(const cfb::I420View& v)
{
    cfb::client::I420Frame f;
    f.y = v.y, f.u = v.u, f.v = v.v;
    f.strideY = v.strideY, f.strideU = v.strideU, f.strideV = v.strideV;
    f.width = v.width, f.height = v.height;
    return f;
}

void BM_Vp8EncodeDecode(benchmark::State& state)
{
    const int kbps = int(state.range(0));
    cfb::Vp8Encoder encoder;
    if (!encoder.open({W, H, Fps, kbps, 10}))
        return state.SkipWithError("Vp8Encoder::open failed");
    cfb::Vp8Decoder decoder;
    int i = 0;
    for (auto _ : state) {
        const cfb::Vp8EncodedFrame frame = encoder.encode(clip().views[i++ % Frames]);
        if (decoder.decode(frame.bytes) != cfb::Vp8Decoder::Result::Picture)
            return state.SkipWithError("decode failed");
    }

    // Quality over one pass of the clip with a fresh encoder, key frame included.
    encoder.open({W, H, Fps, kbps, 10});
    cfb::Vp8Decoder check;
    double bytes = 0, psnr = 0;
    for (int f = 0; f < Frames; ++f) {
        const cfb::Vp8EncodedFrame frame = encoder.encode(clip().views[f]);
        bytes += frame.bytes.size();
        check.decode(frame.bytes);
        psnr += lumaPsnr(clip().views[f], check.picture());
    }
    state.counters["bytes_per_frame"] = bytes / Frames;
    state.counters["kbit_s_at_30fps"] = bytes / Frames * 8 * Fps / 1000;
    state.counters["psnr_y"] = psnr / Frames;
}

// The same work in bare libvpx calls, configured as Vp8Encoder is, decoded without the copy out.
void BM_BareLibvpx(benchmark::State& state)
{
    const int kbps = int(state.range(0));
    vpx_codec_enc_cfg_t cfg;
    vpx_codec_enc_config_default(vpx_codec_vp8_cx(), &cfg, 0);
    cfg.g_w = W, cfg.g_h = H, cfg.g_timebase = {1, Fps}, cfg.g_threads = 1, cfg.g_lag_in_frames = 0;
    cfg.g_error_resilient = VPX_ERROR_RESILIENT_DEFAULT, cfg.rc_end_usage = VPX_CBR;
    cfg.rc_target_bitrate = unsigned(kbps), cfg.rc_dropframe_thresh = 0, cfg.rc_min_quantizer = 2;
    cfg.rc_max_quantizer = 63, cfg.rc_undershoot_pct = 100, cfg.rc_overshoot_pct = 15;
    cfg.rc_buf_initial_sz = 500, cfg.rc_buf_optimal_sz = 600, cfg.rc_buf_sz = 1000, cfg.kf_max_dist = Fps * 10;
    vpx_codec_ctx_t enc, dec;
    vpx_codec_enc_init(&enc, vpx_codec_vp8_cx(), &cfg, 0);
    vpx_codec_control(&enc, VP8E_SET_CPUUSED, 10);
    vpx_codec_control(&enc, VP8E_SET_STATIC_THRESHOLD, 1);
    vpx_codec_control(&enc, VP8E_SET_MAX_INTRA_BITRATE_PCT, 300);
    vpx_codec_dec_cfg_t dcfg{};
    dcfg.threads = 1;
    vpx_codec_dec_init(&dec, vpx_codec_vp8_dx(), &dcfg, 0);
    vpx_image_t image;
    int i = 0;
    for (auto _ : state) {
        const cfb::I420View& v = clip().views[i % Frames];
        vpx_img_wrap(&image, VPX_IMG_FMT_I420, W, H, 1, const_cast<uint8_t*>(v.y));
        vpx_codec_encode(&enc, &image, i++, 1, 0, VPX_DL_REALTIME);
        vpx_codec_iter_t iter = nullptr;
        while (const vpx_codec_cx_pkt_t* p = vpx_codec_get_cx_data(&enc, &iter))
            if (p->kind == VPX_CODEC_CX_FRAME_PKT)
                vpx_codec_decode(&dec, static_cast<const uint8_t*>(p->data.frame.buf), unsigned(p->data.frame.sz), nullptr, 0);
        vpx_codec_iter_t out = nullptr;
        benchmark::DoNotOptimize(vpx_codec_get_frame(&dec, &out));
    }
    vpx_codec_destroy(&enc);
    vpx_codec_destroy(&dec);
}

// Today's frames: PlanarJpegEncoder at quality 75, and the receiver's decode of them.
void BM_PlanarJpegEncodeDecode(benchmark::State& state)
{
    cfb::client::PlanarJpegEncoder encoder;
    tjhandle tj = tjInitDecompress();
    std::vector<uint8_t> out(std::size_t(W) * H * 3 / 2);
    auto decode = [&](QByteArrayView jpeg) {
        return tjDecompressToYUV2(tj, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size(), out.data(), W,
                   1, H, 0)
            == 0;
    };
    int i = 0;
    for (auto _ : state) {
        encoder.setFrame(clientFrame(clip().views[i++ % Frames]));
        if (!decode(encoder.encode(JpegQuality)))
            return state.SkipWithError("JPEG decode failed");
    }

    double bytes = 0, psnr = 0;
    for (int f = 0; f < Frames; ++f) {
        encoder.setFrame(clientFrame(clip().views[f]));
        const QByteArrayView jpeg = encoder.encode(JpegQuality);
        bytes += jpeg.size();
        decode(jpeg);
        // Back from JPEG's full range to the studio range of the source.
        for (int p = 0; p < W * H; ++p)
            out[p] = uint8_t(16 + (out[p] * 219 + 127) / 255);
        psnr += lumaPsnr(clip().views[f], {out.data(), out.data() + W * H, out.data() + W * H * 5 / 4, W, W / 2, W / 2, W, H});
    }
    tjDestroy(tj);
    state.counters["bytes_per_frame"] = bytes / Frames;
    state.counters["kbit_s_at_30fps"] = bytes / Frames * 8 * Fps / 1000;
    state.counters["psnr_y"] = psnr / Frames;
}

// Encode alone (what the capture thread does per frame) at width x height and kbit/s.
void BM_Vp8Encode(benchmark::State& state)
{
    const int w = int(state.range(0)), h = int(state.range(1)), kbps = int(state.range(2));
    const Clip& frames = clip(w, h);
    cfb::Vp8Encoder encoder;
    if (!encoder.open({w, h, Fps, kbps, 10}))
        return state.SkipWithError("Vp8Encoder::open failed");
    double bytes = 0;
    int i = 0;
    for (auto _ : state) {
        const cfb::Vp8EncodedFrame frame = encoder.encode(frames.views[i++ % Frames]);
        if (frame.bytes.isEmpty())
            return state.SkipWithError("encode gave nothing");
        bytes += frame.bytes.size();
    }
    state.counters["bytes_per_frame"] = bytes / std::max(i, 1);
}

BENCHMARK(BM_PlanarJpegEncodeDecode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareLibvpx)->Arg(500)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Vp8EncodeDecode)->Arg(250)->Arg(500)->Arg(1000)->Unit(benchmark::kMicrosecond);
// 1280x720 has three times the pixels of 640x480: three times the rate.
BENCHMARK(BM_Vp8Encode)->Args({640, 480, 500})->Args({1280, 720, 1500})->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    clip();
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter({{"BM_Vp8EncodeDecode/500", "BM_PlanarJpegEncodeDecode"},
        {"BM_Vp8EncodeDecode/250", "BM_PlanarJpegEncodeDecode"},
        {"BM_Vp8EncodeDecode/1000", "BM_PlanarJpegEncodeDecode"},
        {"BM_Vp8EncodeDecode/500", "BM_BareLibvpx/500"}, {"BM_Vp8Encode/1280/720/1500", "BM_Vp8Encode/640/480/500"}});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios("Speed of VP8 encode+decode per 640x480 frame against JPEG q75 encode+decode and bare libvpx, "
                         "and of a 1280x720 encode against a 640x480 one (1/ratio = time factor):");
    benchmark::Shutdown();
    return 0;
}
