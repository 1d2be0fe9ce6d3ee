// How soon a message starts to be heard and seen: from speak() of a ten-word message to the first
// audio piece ready for the sink and to the first mouth change, against espeak-ng synthesising the
// whole text on its own in the same run.
#include "EspeakRuntime.h"
#include "EspeakSpeechEngine.h"
#include "RatioReporter.h"

#include <espeak-ng/speak_lib.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace cfb::client;

namespace {

const char* const Message = "Are you coming over to my place for dinner tonight?";

// Every iteration's time per case, for medians: on a loaded machine a few preempted iterations
// move the mean a long way.
std::map<std::string, std::vector<double>>& samples()
{
    static std::map<std::string, std::vector<double>> all;
    return all;
}

void record(benchmark::State& state, const char* name, std::chrono::steady_clock::time_point start)
{
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    samples()[name].push_back(seconds * 1000);
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

EspeakSpeechEngine& engine()
{
    static const std::unique_ptr<EspeakSpeechEngine> instance = [] {
        EspeakSpeechEngine::Options options;
        options.eventLog = [](const QString&) {};
        return std::make_unique<EspeakSpeechEngine>(options);
    }();
    return *instance;
}

template <typename Done> void runUntil(Done done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
}

// Times speak() until reached() turns true, then lets the rest synthesise and drops it.
template <typename Connect> void timeSpeech(benchmark::State& state, const char* name, Connect connectReached)
{
    EspeakSpeechEngine& speech = engine();
    bool reached = false, synthesised = false;
    QObject scope;
    connectReached(speech, scope, reached);
    QObject::connect(&speech, &EspeakSpeechEngine::textSynthesised, &scope, [&] { synthesised = true; });
    for (auto _ : state) {
        reached = synthesised = false;
        const auto start = std::chrono::steady_clock::now();
        speech.speak(QString::fromLatin1(Message));
        runUntil([&] { return reached; });
        record(state, name, start);
        runUntil([&] { return synthesised; });
        speech.stop();
    }
}

void BM_BareSynthesis(benchmark::State& state)
{
    EspeakRuntime& runtime = EspeakRuntime::instance();
    engine(); // the same process state as the cases
    std::lock_guard guard(runtime.lock());
    espeak_SetSynthCallback([](short*, int, espeak_EVENT*) { return 0; });
    runtime.selectVoice(runtime.voices().first().selector);
    espeak_SetParameter(espeakRATE, 175, 0);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        espeak_Synth(Message, strlen(Message) + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr);
        record(state, "BM_BareSynthesis", start);
    }
}

void BM_SpeakToFirstAudio(benchmark::State& state)
{
    timeSpeech(state, "BM_SpeakToFirstAudio", [](EspeakSpeechEngine& speech, QObject& scope, bool& reached) {
        QObject::connect(&speech, &EspeakSpeechEngine::audioReady, &scope, [&reached] { reached = true; });
    });
}

void BM_SpeakToFirstMouthChange(benchmark::State& state)
{
    timeSpeech(state, "BM_SpeakToFirstMouthChange", [](EspeakSpeechEngine& speech, QObject& scope, bool& reached) {
        QObject::connect(&speech, &EspeakSpeechEngine::mouthShapeChanged, &scope,
            [&reached](MouthShape shape) { reached |= shape != MouthShape::Closed; });
    });
}

} // namespace

BENCHMARK(BM_BareSynthesis)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SpeakToFirstAudio)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SpeakToFirstMouthChange)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter(
        {{"BM_SpeakToFirstAudio/min_time:2.000/manual_time", "BM_BareSynthesis/min_time:2.000/manual_time"},
            {"BM_SpeakToFirstMouthChange/min_time:2.000/manual_time", "BM_BareSynthesis/min_time:2.000/manual_time"}});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios("Speed against synthesising the whole message (above 1: sooner than bare synthesis ends)");
    const double bare = median(samples()["BM_BareSynthesis"]);
    std::printf("\nMedians: bare synthesis %.2f ms\n", bare);
    for (const char* name : {"BM_SpeakToFirstAudio", "BM_SpeakToFirstMouthChange"}) {
        const double m = median(samples()[name]);
        std::printf("  %-28s %7.2f ms  %5.2fx bare synthesis\n", name, m, bare > 0 ? m / bare : 0.0);
    }
    std::printf("  audio: %s\n", engine().audioAvailable() ? "default output" : "none (wall clock)");
    return 0;
}
