#include "mainwindow/CallControl.h"

#include "audio/CallSession.h"
#include "audio/JitterBuffer.h"
#include "chat/ChatTranscript.h"
#include "common/HelpContexts.h"
#include "common/LocalErrorHandler.h"
#include "common/UserDialogs.h"
#include "common/frmPopup.h"
#include "mainwindow/StatusPanels.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "platform/Settings.h"
#include "session/CallOffer.h"
#include "session/ClientSession.h"
#include "speech/SpeechEngine.h"

#include <QApplication>
#include <QPointer>

#include <algorithm>

namespace cfb::client {
namespace {

QString duration(qint64 ms)
{
    const qint64 s = ms / 1000;
    return s >= 3600 ? QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'))
                     : QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

CallControl::CallControl(Controls controls, ClientSession& session, StatusPanels& panels, Window hooks, QObject* parent)
    : QObject(parent)
    , ui_(controls)
    , session_(session)
    , panels_(panels)
    , hooks_(std::move(hooks))
{
    const auto callSelected = [this] {
        withErrorReport("Call", [this] {
            if (const std::shared_ptr<cfb::Buddy> selected = hooks_.selected())
                callOrHangUp(selected->handle());
        });
    };
    connect(ui_.callItem, &QAction::triggered, this, callSelected);
    connect(ui_.callButton, &QAction::triggered, this, callSelected);
    connect(ui_.muteItem, &QAction::toggled, this, [this](bool on) {
        audio_.setMuted(on);
        showCallPanel();
    });
    connect(&session, &ClientSession::callWanted, this, [this](const QString& handle) {
        withErrorReport("Call", [&] { callOrHangUp(handle); });
    });
    connect(&session, &ClientSession::callIncoming, this, &CallControl::incoming);
    connect(&session, &ClientSession::callStarted, this, &CallControl::started);
    connect(&session, &ClientSession::callEnded, this, &CallControl::ended);
    connect(&session, &ClientSession::closed, this, [this] {
        ring_.stop();
        audio_.stop();
        if (SpeechEngine* speech = session_.speech())
            speech->setHeld(false);
        closeQuestion();
        active_ = false;
        showCallPanel();
    });
    // The time on the panel moves on within a quarter of a second of each second.
    clock_.setInterval(250);
    connect(&clock_, &QTimer::timeout, this, [this] {
        showCallPanel();
        if (++ticks_ % 4 == 0)
            showSelected();
    });
    clock_.start();
    ui_.muteItem->setEnabled(false);
}

QString CallControl::question(const QString& handle)
{
    return QStringLiteral("%1 is calling you. Answer?").arg(handle);
}

int CallControl::ringMs() const
{
    const int seconds = Settings::CallRingSeconds.read().toInt();
    return std::clamp(seconds > 0 ? seconds : 45, 1, 600) * 1000;
}

void CallControl::showSelected()
{
    const std::shared_ptr<cfb::Buddy> selected = hooks_.selected();
    const CallOffer offer = CallOffer::of(session_, selected ? selected->handle() : QString());
    for (QAction* item : {ui_.callItem, ui_.callButton}) {
        item->setText(offer.text);
        item->setEnabled(offer.enabled);
        item->setToolTip(offer.toolTip);
    }
    ui_.callItem->setText(offer.hangsUp ? QStringLiteral("&Hang Up") : QStringLiteral("&Call"));
}

void CallControl::callOrHangUp(const QString& handle)
{
    Confabo* library = session_.library();
    if (!library || !library->calls())
        return;
    const CallOffer offer = CallOffer::of(session_, handle);
    if (offer.hangsUp) {
        hungUpHere_ = true;
        library->Hangup();
        return;
    }
    if (!offer.enabled)
        return;
    library->calls()->setRingMs(ringMs());
    QString error;
    // The data port is the same for every buddy.
    const int16_t port = int16_t(Settings::DataPort.read().toInt());
    if (!library->Call(handle, port > 0 ? port : 80, error)) {
        UserDialogs::current().messageBox(nullptr, QStringLiteral("%1 could not be called. %2").arg(handle, error),
            UserDialogs::Buttons::Ok, UserDialogs::Icon::Exclamation, QStringLiteral("Confabo - Call"));
        return;
    }
    ++call_;
    outgoing_ = true;
    hungUpHere_ = false;
    active_ = false;
    if (ChatTranscript* transcript = hooks_.transcriptOf(handle))
        transcript->appendNotice(QStringLiteral("Calling %1...").arg(handle));
    showCallPanel();
    showSelected();
}

void CallControl::incoming(const QString& handle)
{
    Confabo* library = session_.library();
    if (!library || !library->calls() || library->calls()->state() != CallSession::State::Ringing)
        return; // it ended before it got here
    library->calls()->setRingMs(ringMs());
    const int call = ++call_;
    outgoing_ = false;
    hungUpHere_ = false;
    active_ = false;
    ring_.start();
    showCallPanel();
    showSelected();
    // From the event loop, as the question waits in one of its own.
    QTimer::singleShot(0, this, [this, handle, call] { withErrorReport("CallIncoming", [&] { ask(handle, call); }); });
}

void CallControl::ask(const QString& handle, int call)
{
    if (call != call_ || !ring_.ringing())
        return;
    asking_ = question(handle);
    QPointer<CallControl> self(this);
    const int answer = session_.popupQuestion(asking_, QStringLiteral("Confabo - Call"), HelpContext::Contents);
    if (!self)
        return;
    asking_.clear();
    Confabo* library = session_.library();
    // The call may have ended while the question was open (the caller gave up).
    if (call != call_ || !library || !library->calls() || library->calls()->state() != CallSession::State::Ringing)
        return;
    ring_.stop();
    if (answer == UserDialogs::AnswerYes) {
        library->Answer();
    } else {
        hungUpHere_ = true;
        library->Decline();
    }
}

void CallControl::closeQuestion()
{
    if (asking_.isEmpty())
        return;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* popup = qobject_cast<frmPopup*>(window); popup && popup->prompt() == asking_ && popup->MsgBoxResult() == 0)
            popup->closeByProgram();
}

void CallControl::started(const QString& handle)
{
    Confabo* library = session_.library();
    if (!library || !library->calls())
        return;
    ring_.stop();
    closeQuestion();
    active_ = true;
    since_.start();
    // The library object may be a new one since the last call: its session takes the devices now.
    library->calls()->setCapture([this](int16_t* frame) { audio_.capture(frame); });
    library->calls()->setPlayback([this](const int16_t* frame) { audio_.play(frame); });
    audio_.setMuted(ui_.muteItem->isChecked());
    audio_.start();
    if (SpeechEngine* speech = session_.speech())
        speech->setHeld(true);
    ui_.muteItem->setEnabled(true);
    showCallPanel();
    showSelected();
    Q_UNUSED(handle);
}

void CallControl::ended(const QString& handle, const QString& reason)
{
    ring_.stop();
    closeQuestion();
    audio_.stop();
    if (SpeechEngine* speech = session_.speech())
        speech->setHeld(false);
    ui_.muteItem->setEnabled(false);
    event(handle, endedText(handle, reason));
    active_ = false;
    hungUpHere_ = false;
    showCallPanel();
    showSelected();
}

QString CallControl::endedText(const QString& handle, const QString& reason) const
{
    const QString took = active_ ? duration(since_.elapsed()) : QString();
    if (reason == QLatin1String("hangup"))
        return hungUpHere_ ? QStringLiteral("You ended the call with %1 (%2).").arg(handle, took)
                           : QStringLiteral("%1 ended the call (%2).").arg(handle, took);
    if (reason == QLatin1String("declined"))
        return outgoing_ ? QStringLiteral("%1 declined your call.").arg(handle)
                         : QStringLiteral("You declined %1's call.").arg(handle);
    if (reason == QLatin1String("busy"))
        return QStringLiteral("%1 is on another call.").arg(handle);
    if (reason == QLatin1String("missed"))
        return outgoing_ ? QStringLiteral("%1 did not answer your call.").arg(handle)
                         : QStringLiteral("Missed call from %1.").arg(handle);
    return active_ ? QStringLiteral("The call with %1 was cut off (%2).").arg(handle, took)
                   : QStringLiteral("The call with %1 failed.").arg(handle);
}

void CallControl::event(const QString& handle, const QString& text)
{
    if (ChatTranscript* transcript = hooks_.transcriptOf(handle))
        transcript->appendEvent(text);
}

void CallControl::showCallPanel()
{
    Confabo* library = session_.library();
    const CallSession* calls = library ? library->calls() : nullptr;
    if (!calls || calls->state() == CallSession::State::Idle) {
        panels_.showCall(QString(), QString());
        return;
    }
    const QString peer = calls->peer();
    switch (calls->state()) {
    case CallSession::State::Calling:
        panels_.showCall(QStringLiteral("Calling %1...").arg(peer), QStringLiteral("Waiting for %1 to answer").arg(peer));
        return;
    case CallSession::State::Ringing:
        panels_.showCall(QStringLiteral("%1 is calling").arg(peer), question(peer));
        return;
    case CallSession::State::Idle:
    case CallSession::State::Active:
        break;
    }
    const int roundTrip = calls->roundTripMs();
    QString quality = roundTrip >= 0 ? QStringLiteral("Round trip %1 ms").arg(roundTrip)
                                     : QStringLiteral("Round trip not measured yet");
    if (const JitterBuffer* jitter = calls->jitter(); jitter && jitter->counters().accepted > 0) {
        const JitterBuffer::Counters& c = jitter->counters();
        const int played = c.decoded + c.recovered + c.concealed;
        const double lost = played > 0 ? 100.0 * (c.recovered + c.concealed) / played : 0.0;
        quality += QStringLiteral(", %1% of the sound lost (%2% repaired), %3 ms in the jitter buffer")
                       .arg(lost, 0, 'f', 1)
                       .arg(played > 0 ? 100.0 * c.recovered / played : 0.0, 0, 'f', 1)
                       .arg(jitter->targetDelayMs());
    } else {
        quality += QStringLiteral(", nothing heard yet");
    }
    const QString mute = audio_.muted() ? QStringLiteral(", microphone muted") : QString();
    panels_.showCall(QStringLiteral("Call with %1 %2%3").arg(peer, duration(since_.isValid() ? since_.elapsed() : 0), mute), quality);
}

} // namespace cfb::client
