#include "EchoBot.h"

#include "CliOptions.h"
#include "JsonLines.h"

#include "audio/CallSession.h"
#include "audio/VoiceFormat.h"

#include "messaging/Buddies.h"
#include "messaging/Buddy.h"
#include "messaging/ConfaboError.h"
#include "messaging/modINET.h"
#include "platform/Settings.h"
#include "protocol/AccountRules.h"
#include "protocol/SkipJack.h"

#include <QMetaObject>

#include <algorithm>
#include <cstdio>

using namespace cfb;

namespace {

const QString AnswerPrefix = QStringLiteral("Got your message: ");

int16_t ownDataPort()
{
    return int16_t(parseNumber(Settings::DataPort.read(), 1, 32767).value_or(80));
}

} // namespace

EchoBot::EchoBot()
    : confabo_(std::make_unique<Confabo>())
{
    // The library raises these while it handles a datagram; the answers, which ask the service
    // and send datagrams themselves, run once that handling is over.
    connect(confabo_.get(), &Confabo::NewMessage, this, [this](QString& from, QString&, int16_t& port, QString& text) {
        QMetaObject::invokeMethod(
            this, [this, from, port, text] { onMessage(from, port, text); }, Qt::QueuedConnection);
    });
    connect(confabo_.get(), &Confabo::VideoFrameBytes, this, [this](QString& from, QByteArray& frame) {
        if (framesWaiting_ >= MaxFramesWaiting)
            return; // a sender faster than the echo loses frames, not memory
        ++framesWaiting_;
        QMetaObject::invokeMethod(
            this,
            [this, from, frame] {
                --framesWaiting_;
                onFrame(from, frame);
            },
            Qt::QueuedConnection);
    });
    connectCalls();
}

void EchoBot::connectCalls()
{
    CallSession* calls = confabo_->calls();
    if (!calls)
        return;
    // What it plays back is what it heard, not a microphone near a loudspeaker: nothing to cancel.
    calls->setEchoCancellation(false);
    echo_.assign(std::size_t(EchoDelayMs / VoiceFormat::FrameMs) * VoiceFormat::FrameSamples, 0);
    // Each 20 ms tick captures before it plays: the frame taken out is the oldest one kept, and
    // the one played takes its place.
    calls->setCapture([this](int16_t* frame) {
        std::copy_n(echo_.begin() + std::ptrdiff_t(echoAt_), VoiceFormat::FrameSamples, frame);
    });
    calls->setPlayback([this](const int16_t* frame) {
        std::copy_n(frame, VoiceFormat::FrameSamples, echo_.begin() + std::ptrdiff_t(echoAt_));
        echoAt_ = (echoAt_ + VoiceFormat::FrameSamples) % echo_.size();
    });
    callLimit_.setSingleShot(true);
    callLimit_.setInterval(MaxCallMs);
    connect(&callLimit_, &QTimer::timeout, this, [this] { confabo_->Hangup(); });
    // Raised while the invite's datagram is handled: answered once that is over.
    connect(confabo_.get(), &Confabo::CallIncoming, this, [this](const QString& handle) {
        QMetaObject::invokeMethod(
            this,
            [this, handle] {
                const bool ok = signedIn_ && confabo_->Answer();
                writeJsonLine({{"event", "call"}, {"from", handle}, {"answered", ok}});
            },
            Qt::QueuedConnection);
    });
    connect(confabo_.get(), &Confabo::CallStarted, this, [this](const QString& handle) {
        std::fill(echo_.begin(), echo_.end(), int16_t(0));
        echoAt_ = 0;
        callLimit_.start();
        writeJsonLine({{"event", "call_started"}, {"with", handle}});
    });
    connect(confabo_.get(), &Confabo::CallEnded, this, [this](const QString& handle, const QString& reason) {
        callLimit_.stop();
        writeJsonLine({{"event", "call_ended"}, {"with", handle}, {"reason", reason}});
    });
}

bool EchoBot::start(const CliOptions& options)
{
    const QString handle = options.value("handle");
    const QString password = SkipJack::EncipherPassword(options.value("password"));
    const QString& failure = ServiceChannel::current().lastFailure;
    const auto unreachable = [&failure] {
        std::fprintf(stderr, "confabo-cli: cannot reach the service at %s: %s\n",
            qUtf8Printable(ServiceChannel::current().server), qUtf8Printable(failure));
        return false;
    };
    // A handle too short for a new account is not offered for registration; an account that has
    // one from before still signs in below.
    const bool mayRegister = AccountRules::hasNewHandleLength(handle);
    const bool registered = mayRegister && confabo_->Register(handle, password, options.value("email"));
    if (!registered && !failure.isEmpty())
        return unreachable();
    if (!confabo_->Login(handle, password)) {
        if (!failure.isEmpty())
            return unreachable();
        const QString why = registered ? QString()
            : mayRegister
            ? QStringLiteral(" (the handle belongs to an account with another password)")
            : QStringLiteral(" (a new account's handle must have %1 to %2 characters, so the bot registers no "
                             "shorter one; a shorter handle must be an existing account's, with its password)")
                  .arg(AccountRules::MinHandleLength)
                  .arg(AccountRules::MaxHandleLength);
        std::fprintf(stderr, "confabo-cli: the service refused the sign-in of \"%s\"%s\n", qUtf8Printable(handle),
            qUtf8Printable(why));
        return false;
    }
    signedIn_ = true;
    writeJsonLine({{"event", "signed_in"}, {"handle", confabo_->handle()}, {"user_id", confabo_->userID()},
        {"registered", registered}, {"buddies", confabo_->Buddies()->Count()}});
    return true;
}

void EchoBot::signOut()
{
    if (!signedIn_)
        return;
    signedIn_ = false;
    confabo_->Logout();
    confabo_->CleanUp();
    writeJsonLine({{"event", "signed_out"}});
}

QString EchoBot::answerTo(const QString& text)
{
    QString quoted = text.left(MaxQuoted);
    if (quoted.size() < text.size())
        quoted += QStringLiteral("...");
    return AnswerPrefix + u'"' + quoted + u'"';
}

void EchoBot::onMessage(const QString& from, int16_t port, const QString& text)
{
    if (!signedIn_)
        return;
    if (port > 0 && (ports_.size() < MaxKnownPorts || ports_.contains(from)))
        ports_.insert(from, port);
    // Another echo bot's answer is not answered, or two bots would talk forever.
    if (text.startsWith(AnswerPrefix)) {
        writeJsonLine({{"event", "message"}, {"from", from}, {"answered", false}});
        return;
    }
    bool ok = false;
    try {
        ok = befriend(from) && confabo_->SendMessage(from, answerTo(text), ownDataPort(), portOf(from));
    } catch (const ConfaboError& e) {
        writeJsonLine({{"event", "error"}, {"from", from}, {"message", e.description()}});
    }
    writeJsonLine({{"event", "message"}, {"from", from}, {"answered", ok}});
}

void EchoBot::onFrame(const QString& from, const QByteArray& frame)
{
    if (!signedIn_)
        return;
    bool ok = false;
    try {
        const auto buddy = befriend(from);
        ok = buddy && buddy->SendFrame(frame, confabo_->handle(), portOf(from));
    } catch (const ConfaboError& e) {
        writeJsonLine({{"event", "error"}, {"from", from}, {"message", e.description()}});
    }
    writeJsonLine({{"event", "frame"}, {"from", from}, {"bytes", qint64(frame.size())}, {"echoed", ok}});
}

std::shared_ptr<Buddy> EchoBot::befriend(const QString& handle)
{
    if (auto buddy = confabo_->Buddies()->Item(handle))
        return buddy;
    const QString found = confabo_->AddBuddy(handle);
    if (found.isEmpty())
        return nullptr;
    if (auto buddy = confabo_->Buddies()->Item(found)) {
        writeJsonLine({{"event", "added"}, {"handle", found}});
        return buddy;
    }
    // Already a buddy at the service though not in this session's list: reach it all the same.
    auto stranger = std::make_shared<Buddy>();
    return stranger->LoadByHandle(found) ? stranger : nullptr;
}

int16_t EchoBot::portOf(const QString& handle) const
{
    // Without a port named in a message, the community's shared data port.
    return ports_.value(handle, ownDataPort());
}
