// How soon a message starts to be heard and seen, against espeak-ng synthesising the whole text on
// its own in the same run: from the main window's NewMessage of a ten-word message (a datagram a
// signed-in buddy sends to the window's receiving socket) to the first audio piece handed to the
// sink and to the first mouth change, and the same from the engine's speak() alone.
//
// The window signs in to a confabo-service started here on a temporary database; without the
// service the window cases are skipped.
#include "ClientProfile.h"
#include "FreeDataPort.h"
#include "RatioReporter.h"
#include "ScriptedDialogs.h"
#include "ServiceProcess.h"
#include "TempConfig.h"
#include "speech/EspeakRuntime.h"
#include "speech/EspeakSpeechEngine.h"

#include "chat/cBuddyInfo.h"
#include "mainwindow/frmMain.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "platform/Settings.h"

#include <espeak-ng/speak_lib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

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

// Blocks in the event loop between events, as the program does: a loop that polls would keep a
// core busy and slow the worker thread on a small machine.
template <typename Done> void runUntil(Done done)
{
    QElapsedTimer clock;
    clock.start();
    QTimer tick;
    tick.start(10);
    while (!done() && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
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

// cordelia's main window, signed in with the engine as its speech, and amelia, a buddy signed in through
// a library object of her own, who writes to the window's data port.
struct ChatWorld {
    TempConfig config;
    ServiceProcess service;
    ScriptedDialogs dialogs;
    QTemporaryDir files;
    std::unique_ptr<cfb::Confabo> amy;
    std::unique_ptr<frmMain> window;
    cfb::Buddy carolForAmy;
    bool ready = false;
    QString problem;

    ChatWorld()
    {
        if (!service.isRunning()) {
            problem = service.errorText();
            return;
        }
        ClientProfile::write(service, QStringLiteral("cordelia"), true);
        cfb::Settings::PollingInterval.write(QStringLiteral("3600")); // no presence requests meanwhile
        for (const char* who : {"cordelia", "amelia"})
            if (!ClientProfile::registerUser(files.path(), QLatin1String(who), 0xff806040)) {
                problem = QStringLiteral("cannot register %1").arg(QLatin1String(who));
                return;
            }
        {
            cfb::Confabo carol;
            if (!carol.Login("cordelia", ClientProfile::password("cordelia"), "127.0.0.1")
                || carol.AddBuddy("amelia") != "amelia") {
                problem = QStringLiteral("cordelia cannot add amelia");
                return;
            }
            carol.Logout();
        }
        amy = std::make_unique<cfb::Confabo>();
        if (!amy->Login("amelia", ClientProfile::password("amelia"), "127.0.0.1")) {
            problem = QStringLiteral("amelia cannot sign in");
            return;
        }
        // The window receives on a port of its own.
        cfb::Settings::BlockAllData.erase();
        cfb::Settings::DataPort.write(freeDataPort());
        window = std::make_unique<frmMain>(&engine());
        window->Load();
        if (!window->buddyInfo(QStringLiteral("amelia")) || !carolForAmy.LoadByHandle(QStringLiteral("cordelia"))) {
            problem = QStringLiteral("the window has no tab for amelia");
            return;
        }
        ready = true;
    }

    // amelia writes through her library's buddy object for cordelia: one datagram to the window's data
    // port.
    bool write(const QString& text)
    {
        return carolForAmy.SendMessage(
            QStringLiteral("amelia"), QStringLiteral("amelia@example.org"), text, 0, window->dataPort());
    }
};

// Made on first use; main() drops it while the application object still exists.
std::unique_ptr<ChatWorld>& chatWorldInstance()
{
    static std::unique_ptr<ChatWorld> world;
    return world;
}

ChatWorld& chatWorld()
{
    if (!chatWorldInstance())
        chatWorldInstance() = std::make_unique<ChatWorld>();
    return *chatWorldInstance();
}

// Times the window's NewMessage of amelia's message until reached() turns true, then lets the rest
// synthesise and drops it. The transcript starts empty each time, so every message costs the same.
template <typename Connect> void timeNewMessage(benchmark::State& state, const char* name, Connect connectReached)
{
    ChatWorld& world = chatWorld();
    if (!world.ready) {
        const std::string why = ("no signed-in window: " + world.problem).toStdString();
        state.SkipWithError(why.c_str());
        return;
    }
    EspeakSpeechEngine& speech = engine();
    bool reached = false, synthesised = false, arrived = false;
    std::chrono::steady_clock::time_point start;
    QObject scope;
    connectReached(speech, scope, reached);
    QObject::connect(&speech, &EspeakSpeechEngine::textSynthesised, &scope, [&] { synthesised = true; });
    QObject::connect(world.window->library(), &cfb::Confabo::NewMessage, &scope, [&] {
        start = std::chrono::steady_clock::now();
        arrived = true;
    });
    cBuddyInfo* amy = world.window->buddyInfo(QStringLiteral("amelia"));
    speech.stop();
    for (auto _ : state) {
        reached = synthesised = arrived = false;
        amy->transcript().clear();
        if (!world.write(QString::fromLatin1(Message))) {
            state.SkipWithError("amelia's message did not go out");
            return;
        }
        runUntil([&] { return arrived && reached; });
        if (!reached) {
            state.SkipWithError("the message was not spoken");
            return;
        }
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

void BM_NewMessageToFirstAudio(benchmark::State& state)
{
    timeNewMessage(state, "BM_NewMessageToFirstAudio", [](EspeakSpeechEngine& speech, QObject& scope, bool& reached) {
        QObject::connect(&speech, &EspeakSpeechEngine::audioReady, &scope, [&reached] { reached = true; });
    });
}

void BM_NewMessageToFirstMouthChange(benchmark::State& state)
{
    timeNewMessage(
        state, "BM_NewMessageToFirstMouthChange", [](EspeakSpeechEngine& speech, QObject& scope, bool& reached) {
            QObject::connect(&speech, &EspeakSpeechEngine::mouthShapeChanged, &scope,
                [&reached](MouthShape shape) { reached |= shape != MouthShape::Closed; });
        });
}

} // namespace

BENCHMARK(BM_BareSynthesis)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SpeakToFirstAudio)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SpeakToFirstMouthChange)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_NewMessageToFirstAudio)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_NewMessageToFirstMouthChange)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    const std::string bareRun = "BM_BareSynthesis/min_time:2.000/manual_time";
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const char* name : {"BM_SpeakToFirstAudio", "BM_SpeakToFirstMouthChange", "BM_NewMessageToFirstAudio",
             "BM_NewMessageToFirstMouthChange"})
        pairs.emplace_back(std::string(name) + "/min_time:2.000/manual_time", bareRun);
    RatioReporter reporter(pairs);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios("Speed against synthesising the whole message (above 1: sooner than bare synthesis ends)");
    const double bare = median(samples()["BM_BareSynthesis"]);
    std::printf("\nMedians: bare synthesis %.2f ms\n", bare);
    for (const char* name : {"BM_SpeakToFirstAudio", "BM_SpeakToFirstMouthChange", "BM_NewMessageToFirstAudio",
             "BM_NewMessageToFirstMouthChange"}) {
        if (samples()[name].empty())
            continue;
        const double m = median(samples()[name]);
        std::printf("  %-32s %7.2f ms  %5.2fx bare synthesis\n", name, m, bare > 0 ? m / bare : 0.0);
    }
    std::printf("  audio: %s\n", engine().audioAvailable() ? "default output" : "none (wall clock)");
    chatWorldInstance().reset();
    return 0;
}
