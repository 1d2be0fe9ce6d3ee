#pragma once

// Shared by the start-up tests: bounded waits, a modal-window driver, a recording speech engine
// and the exit hook that turns the program's end into an exception.
#include "speech/SpeechEngine.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace startup_test {

// Thrown by the exit hook the tests install: the program would have ended here.
struct ProgramEnded { };

// Lets the event loop run until the predicate holds or the time is up.
inline bool waitFor(const std::function<bool()>& done, int milliseconds = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// Runs action on the first modal window of type W that opens within the time (from inside its
// modal loop); when none opens, *ran stays false. The watch ends with scope at the latest.
template <typename W>
void whenModal(QObject* scope, const std::function<void(W*)>& action, bool* ran = nullptr, int milliseconds = 5000)
{
    auto* timer = new QTimer(scope);
    auto elapsed = std::make_shared<QElapsedTimer>();
    elapsed->start();
    QObject::connect(timer, &QTimer::timeout, [timer, elapsed, action, ran, milliseconds] {
        if (auto* window = qobject_cast<W*>(QApplication::activeModalWidget()); window && window->isVisible()) {
            timer->deleteLater();
            timer->stop();
            if (ran)
                *ran = true;
            action(window);
        } else if (elapsed->elapsed() > milliseconds) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(10);
}

template <typename W> W* child(QWidget* window, const char* name)
{
    return window->findChild<W*>(QLatin1String(name));
}

// A speech engine that remembers what it was asked.
class RecordingSpeech : public cfb::client::SpeechEngine {
public:
    void speak(const QString& text, cfb::client::MouthWidget* = nullptr) override { spoken.append(text); }
    QString voiceName(int index) const override { return index == 1 ? QStringLiteral("English") : QString(); }
    int currentVoice() const override { return voice; }
    void setCurrentVoice(int index) override
    {
        voice = index;
        voiceSetWhileSwitching = switching;
    }
    void setSwitchFlag(bool on) override { switching = on; }
    void setHeld(bool on) override { held = on; }
    void showVoicesDialog(QWidget*, const QString&) override { }
    bool audioAvailable() const override { return false; }

    QStringList spoken;
    int voice = 0;
    bool switching = false;
    bool voiceSetWhileSwitching = false;
    bool held = false;
};

} // namespace startup_test
