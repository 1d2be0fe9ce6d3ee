// A call's sound, per 20 ms frame of espeak-ng speech: Opus encode and decode through
// OpusEncoder/OpusDecoder against the bare libopus calls they wrap; the echo cancellers (WebRTC's
// audio processing, which AudioProcessor wraps, against speexdsp's) with the echo they remove on
// a synthetic echo path (ERLE, dB) and how much of the near end's voice they keep in double talk;
// the receive path (jitter buffer and decoder) at 0, 5 and 10% loss with the envelope
// correlation of what is heard against what was said; and one whole call's frame (encode,
// cancel, receive), as the share of one core a call takes.
#include "EchoPath.h"
#include "LossyPath.h"
#include "RatioReporter.h"
#include "SpokenClip.h"

#include "audio/AudioProcessor.h"
#include "audio/EnvelopeCorrelation.h"
#include "audio/JitterBuffer.h"
#include "audio/OpusDecoder.h"
#include "audio/OpusEncoder.h"

#include <opus.h>
#include <speex/speex_echo.h>
#include <speex/speex_preprocess.h>

#include <ctime>
#include <memory>
#include <vector>

namespace {

using cfb::VoiceFormat;
constexpr int N = VoiceFormat::FrameSamples;
constexpr int Kbps = 24;

const std::vector<int16_t>& speech()
{
    static const std::vector<int16_t> s = cfb::testing::looped(
        cfb::testing::spokenClip("Every word should come through, even when the network loses a few packets along the way."),
        600);
    return s;
}

// Far end, near end (talking from 5 s on) and the microphone, 8 s.
struct EchoScene {
    std::vector<int16_t> far, near, mic;
    std::size_t talk = 5 * std::size_t(VoiceFormat::SampleRate);
    EchoScene()
    {
        far = cfb::testing::looped(cfb::testing::spokenClip("The far end is talking, and the loudspeaker plays it into the room."), 400);
        const std::vector<int16_t> n = cfb::testing::spokenClip("Hello from the near end, can you hear me?", "en-us+f3");
        near.assign(far.size(), 0);
        for (std::size_t i = 0; i < n.size() && talk + i < near.size(); ++i)
            near[talk + i] = n[i];
        mic = cfb::testing::EchoPath{}.microphone(far, near);
    }
    int frames() const { return int(mic.size() / N); }
    void judge(benchmark::State& state, const std::vector<int16_t>& out) const
    {
        state.counters["erle_db"] = cfb::testing::erleDb(mic, out, 2 * VoiceFormat::SampleRate, talk);
        auto tail = [&](const std::vector<int16_t>& v) { return std::span<const int16_t>(v.data() + talk, v.size() - talk); };
        state.counters["near_kept"] = cfb::EnvelopeMatch::of(tail(near), tail(out), VoiceFormat::SampleRate, 100).correlation;
        state.counters["near_in_mic"] = cfb::EnvelopeMatch::of(tail(near), tail(mic), VoiceFormat::SampleRate, 100).correlation;
    }
};

const EchoScene& scene()
{
    static const EchoScene s;
    return s;
}

void BM_OpusEncodeDecode(benchmark::State& state)
{
    cfb::OpusEncoder encoder;
    cfb::OpusDecoder decoder;
    if (!encoder.open(Kbps, 10) || !decoder.open())
        return state.SkipWithError("open failed");
    std::vector<int16_t> out(N);
    const int frames = int(speech().size() / N);
    int i = 0;
    double bytes = 0;
    for (auto _ : state) {
        const QByteArrayView p = encoder.encode(speech().data() + std::size_t(i++ % frames) * N);
        bytes += double(p.size());
        if (decoder.decode(p, out.data()) != cfb::OpusDecoder::Result::Decoded)
            return state.SkipWithError("decode failed");
    }
    state.counters["bytes_per_frame"] = bytes / double(state.iterations());
}

// The same work in bare libopus calls, configured as OpusEncoder is.
void BM_BareLibopus(benchmark::State& state)
{
    int error = 0;
    ::OpusEncoder* enc = opus_encoder_create(VoiceFormat::SampleRate, 1, OPUS_APPLICATION_VOIP, &error);
    ::OpusDecoder* dec = opus_decoder_create(VoiceFormat::SampleRate, 1, &error);
    opus_encoder_ctl(enc, OPUS_SET_SIGNAL(OPUS_SIGNAL_VOICE));
    opus_encoder_ctl(enc, OPUS_SET_VBR(1));
    opus_encoder_ctl(enc, OPUS_SET_VBR_CONSTRAINT(1));
    opus_encoder_ctl(enc, OPUS_SET_DTX(0));
    opus_encoder_ctl(enc, OPUS_SET_INBAND_FEC(1));
    opus_encoder_ctl(enc, OPUS_SET_BITRATE(Kbps * 1000));
    opus_encoder_ctl(enc, OPUS_SET_PACKET_LOSS_PERC(10));
    unsigned char packet[1275];
    std::vector<int16_t> out(N);
    const int frames = int(speech().size() / N);
    int i = 0;
    for (auto _ : state) {
        const int n = opus_encode(enc, speech().data() + std::size_t(i++ % frames) * N, N, packet, sizeof packet);
        benchmark::DoNotOptimize(opus_decode(dec, packet, n, out.data(), N, 0));
    }
    opus_encoder_destroy(enc);
    opus_decoder_destroy(dec);
}

// The argument: noise suppression on (1) or off (0), which shows what the canceller does alone.
void BM_WebrtcAudioProcessor(benchmark::State& state)
{
    const EchoScene& s = scene();
    std::vector<int16_t> out(s.mic.size());
    {
        cfb::AudioProcessor processor;
        processor.setNoiseSuppression(state.range(0) != 0);
        for (int f = 0; f < s.frames(); ++f) {
            processor.farEnd(s.far.data() + std::size_t(f) * N);
            processor.nearEnd(s.mic.data() + std::size_t(f) * N, out.data() + std::size_t(f) * N);
        }
    }
    s.judge(state, out);
    cfb::AudioProcessor processor;
    processor.setNoiseSuppression(state.range(0) != 0);
    std::vector<int16_t> frame(N);
    int f = 0;
    for (auto _ : state) {
        const std::size_t at = std::size_t(f++ % s.frames()) * N;
        processor.farEnd(s.far.data() + at);
        processor.nearEnd(s.mic.data() + at, frame.data());
    }
}

// speexdsp's canceller, 10 ms chunks; the arguments: its filter length in ms, and its
// preprocessor (residual echo and noise suppression) on (1) or off (0).
void BM_SpeexEchoCanceller(benchmark::State& state)
{
    const int taps = int(state.range(0)) * VoiceFormat::SampleRate / 1000;
    const bool preprocess = state.range(1) != 0;
    const int chunk = VoiceFormat::ChunkSamples;
    int rate = VoiceFormat::SampleRate, on = 1;
    auto make = [&](SpeexEchoState*& echo, SpeexPreprocessState*& pre) {
        echo = speex_echo_state_init(chunk, taps);
        speex_echo_ctl(echo, SPEEX_ECHO_SET_SAMPLING_RATE, &rate);
        pre = speex_preprocess_state_init(chunk, rate);
        speex_preprocess_ctl(pre, SPEEX_PREPROCESS_SET_ECHO_STATE, echo);
        speex_preprocess_ctl(pre, SPEEX_PREPROCESS_SET_DENOISE, &on);
    };
    auto run = [&](SpeexEchoState* echo, SpeexPreprocessState* pre, const int16_t* far, const int16_t* mic, int16_t* out) {
        for (int c = 0; c < N; c += chunk) {
            speex_echo_cancellation(echo, mic + c, far + c, out + c);
            if (preprocess)
                speex_preprocess_run(pre, out + c);
        }
    };
    const EchoScene& s = scene();
    SpeexEchoState* echo;
    SpeexPreprocessState* pre;
    make(echo, pre);
    std::vector<int16_t> out(s.mic.size());
    for (int f = 0; f < s.frames(); ++f)
        run(echo, pre, s.far.data() + std::size_t(f) * N, s.mic.data() + std::size_t(f) * N, out.data() + std::size_t(f) * N);
    s.judge(state, out);
    speex_echo_state_reset(echo);
    std::vector<int16_t> frame(N);
    int f = 0;
    for (auto _ : state) {
        const std::size_t at = std::size_t(f++ % s.frames()) * N;
        run(echo, pre, s.far.data() + at, s.mic.data() + at, frame.data());
    }
    speex_preprocess_state_destroy(pre);
    speex_echo_state_destroy(echo);
}

// The receiving side over a path with the loss (argument, %) and 40 ms of jitter: time per
// frame pushed and pulled, and how well the speech heard follows the speech sent.
void BM_ReceivePath(benchmark::State& state)
{
    const double loss = double(state.range(0));
    cfb::OpusEncoder encoder;
    encoder.open(Kbps, int(loss));
    const std::vector<cfb::testing::SentPacket> packets = cfb::testing::LossyPath{loss, 30, 40, 11}.send(speech(), encoder);
    const int frames = int(speech().size() / N) + 20;
    {
        cfb::JitterBuffer buffer;
        const std::vector<int16_t> heard = cfb::testing::playOut(packets, buffer, frames);
        const cfb::EnvelopeMatch match = cfb::EnvelopeMatch::of(speech(), heard, VoiceFormat::SampleRate);
        state.counters["envelope_corr"] = match.correlation;
        state.counters["delay_ms"] = match.lagMs;
        state.counters["recovered"] = buffer.counters().recovered;
        state.counters["concealed"] = buffer.counters().concealed;
    }
    std::vector<int16_t> out(N);
    std::unique_ptr<cfb::JitterBuffer> buffer;
    std::size_t next = 0;
    int64_t now = 0;
    for (auto _ : state) {
        if (!buffer || next == packets.size()) {
            state.PauseTiming();
            buffer = std::make_unique<cfb::JitterBuffer>();
            next = 0;
            now = 0;
            state.ResumeTiming();
        }
        for (; next < packets.size() && packets[next].arrivalMs <= now; ++next) {
            const auto& p = packets[next];
            buffer->push(p.sequence, p.timestamp, p.arrivalMs, QByteArrayView(p.bytes.data(), qsizetype(p.bytes.size())));
        }
        buffer->pull(out.data(), now);
        now += VoiceFormat::FrameMs;
    }
}

// One frame of a call at each end's share: the microphone's frame cleaned and encoded, a packet
// received and played, the played frame given to the canceller. call_core_percent is how much of
// one core a call keeps busy.
void BM_CallFrame(benchmark::State& state)
{
    const EchoScene& s = scene();
    cfb::OpusEncoder encoder;
    encoder.open(Kbps, 5);
    cfb::AudioProcessor processor;
    cfb::JitterBuffer buffer;
    std::vector<int16_t> cleaned(N), played(N);
    int f = 0;
    timespec start{}, end{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
    for (auto _ : state) {
        const std::size_t at = std::size_t(f % s.frames()) * N;
        processor.nearEnd(s.mic.data() + at, cleaned.data());
        const QByteArrayView packet = encoder.encode(cleaned.data());
        buffer.push(uint16_t(f), uint32_t(f) * N, int64_t(f) * 20, packet);
        buffer.pull(played.data(), int64_t(f) * 20 + 5);
        processor.farEnd(played.data());
        ++f;
    }
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
    const double cpu = double(end.tv_sec - start.tv_sec) + double(end.tv_nsec - start.tv_nsec) * 1e-9;
    // CPU time per frame against the 20 ms it lasts.
    state.counters["call_core_percent"] = cpu / double(state.iterations()) / 0.020 * 100;
}

BENCHMARK(BM_BareLibopus)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpusEncodeDecode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WebrtcAudioProcessor)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SpeexEchoCanceller)->Args({100, 1})->Args({200, 1})->Args({100, 0})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReceivePath)->Arg(0)->Arg(5)->Arg(10)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CallFrame)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    speech();
    scene();
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter({{"BM_OpusEncodeDecode", "BM_BareLibopus"},
        {"BM_WebrtcAudioProcessor/1", "BM_SpeexEchoCanceller/100/1"},
        {"BM_WebrtcAudioProcessor/1", "BM_SpeexEchoCanceller/200/1"}});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios("Speed per 20 ms frame (above 1: faster than the reference):");
    benchmark::Shutdown();
    return 0;
}
