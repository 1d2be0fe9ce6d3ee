#include "session/ClientSession.h"

#include "common/LocalErrorHandler.h"
#include "common/modMain.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "messaging/modINET.h"
#include "platform/Settings.h"
#include "session/ServiceThread.h"
#include "transport/ivUDP.h"
#include "transport/vWinsock.h"

#include <QMetaObject>

#include <memory>
#include <utility>

namespace cfb::client {

// Where the service thread's answers arrive, on the user-interface thread. It outlives its session
// when the service thread is left inside a request at close, since that thread may still answer.
class ClientSession::Replies : public QObject {
public:
    explicit Replies(ClientSession* session)
        : session(session)
    {
    }
    ClientSession* session;
};

namespace {

constexpr int SlowAfterMs = 1000;

// A sign-out at exit may not hold the exit up: a short try, and no retry.
constexpr int SignOutConnectMs = 1000;
constexpr int SignOutSendMs = 500;
constexpr int SignOutReceiveMs = 1000;

} // namespace

ClientSession::ClientSession(SpeechEngine* speech, QObject* parent)
    : QObject(parent)
    , speech_(speech)
{
    slowTimer_.setSingleShot(true);
    slowTimer_.setInterval(SlowAfterMs);
    connect(&slowTimer_, &QTimer::timeout, this, [this] {
        slow_ = true;
        emit serviceSlow(true);
    });
}

ClientSession::~ClientSession()
{
    close();
}

cfb::Confabo* ClientSession::open()
{
    close();
    confabo_ = std::make_unique<cfb::Confabo>();
    confabo_->setBuddiesLookUp(false);
    confabo_->setShownBefore(shownBefore_);
    mailStarted_ = false;
    connect(confabo_.get(), &Confabo::NewMessage, this,
        [this](QString& fromHandle, QString& fromEmail, int16_t& videoPort, QString& text) {
            QMetaObject::invokeMethod(
                this,
                [this, fromHandle, fromEmail, videoPort, text, secure = confabo_->arrivalIsSecure(),
                    written = confabo_->arrivalWritten(), id = confabo_->arrivalId()] {
                    if (secure)
                        secureSenders_.insert(fromHandle.toCaseFolded());
                    else
                        secureSenders_.remove(fromHandle.toCaseFolded());
                    if (written.isValid())
                        writtenAt_.insert(fromHandle.toCaseFolded(), written);
                    else
                        writtenAt_.remove(fromHandle.toCaseFolded());
                    arrivalIds_.insert(fromHandle.toCaseFolded(), id);
                    emit messageReceived(fromHandle, fromEmail, videoPort, text);
                },
                Qt::QueuedConnection);
        });
    connect(confabo_.get(), &Confabo::KeyChanged, this, &ClientSession::keyChanged, Qt::QueuedConnection);
    connect(confabo_.get(), &Confabo::PlainRefused, this, &ClientSession::plainRefused, Qt::QueuedConnection);
    connect(confabo_.get(), &Confabo::FileOffered, this, &ClientSession::fileOffered, Qt::QueuedConnection);
    connect(confabo_.get(), &Confabo::FileProgress, this, &ClientSession::fileProgress, Qt::QueuedConnection);
    connect(confabo_.get(), &Confabo::FileFinished, this, &ClientSession::fileFinished, Qt::QueuedConnection);
    connect(confabo_.get(), &Confabo::FileFailed, this, &ClientSession::fileFailed, Qt::QueuedConnection);
    connect(confabo_.get(), &Confabo::CallIncoming, this, &ClientSession::callIncoming, Qt::QueuedConnection);
    connect(confabo_.get(), &Confabo::CallStarted, this, &ClientSession::callStarted, Qt::QueuedConnection);
    connect(confabo_.get(), &Confabo::CallEnded, this, &ClientSession::callEnded, Qt::QueuedConnection);
    connect(confabo_.get(), &Confabo::LineDelivered, this, &ClientSession::lineDelivered);
    connect(confabo_.get(), &Confabo::LineNotDelivered, this, &ClientSession::lineNotDelivered);
    connect(confabo_.get(), &Confabo::LineQueued, this, &ClientSession::lineQueued, Qt::QueuedConnection);
    connect(confabo_.get(), &Confabo::LineRefused, this, &ClientSession::lineRefused, Qt::QueuedConnection);
    // The address this user holds at the relay goes to the service, whose presence tells buddies.
    connect(confabo_.get(), &Confabo::RelayAddressChanged, this, [this](const QString& address) {
        ask<bool>("PublishRelayAddress", this,
            [address](cfb::Confabo& service) { return service.PublishRelayAddress(address); }, [](bool) {});
    });
    service_ = new ServiceThread(this);
    replies_ = new Replies(this);
    return confabo_.get();
}

int ClientSession::popupQuestion(const QString& prompt, const QString& title, int helpContext, bool* dontAskAgain)
{
    if (openQuestions_++ == 0)
        emit questionsOpen(true);
    const QPointer<ClientSession> self(this);
    const int answer = modMain::PopupMsgBox(prompt, title, helpContext, dontAskAgain);
    if (self && --openQuestions_ == 0)
        emit questionsOpen(false);
    return answer;
}

void ClientSession::close()
{
    if (!confabo_)
        return;
    const bool signedIn = confabo_->Status() != CFB_OFFLINE;
    confabo_->CleanUp();
    confabo_.reset();
    if (signedIn)
        service_->post([](cfb::Confabo& service) {
            service.setHTTPConnTimeout(SignOutConnectMs);
            service.setHTTPSendTimeout(SignOutSendMs);
            service.setHTTPRecvTimeout(SignOutReceiveMs);
            service.Logout();
        });
    stopServiceThread();
}

void ClientSession::stopServiceThread()
{
    replies_->session = nullptr;
    if (service_->finish(SignOutWaitMs))
        replies_->deleteLater();
    // else the thread may still answer: replies_ stays, answering nobody
    delete service_;
    service_ = nullptr;
    replies_ = nullptr;
    pending_ = 0;
    slowTimer_.stop();
    if (slow_) {
        slow_ = false;
        emit serviceSlow(false);
    }
    emit closed();
}

void ClientSession::post(
    const char* what, QObject* context, std::function<void(cfb::Confabo&)> work, std::function<void(bool)> done)
{
    if (!service_) {
        done(false);
        return;
    }
    if (pending_++ == 0)
        slowTimer_.start();
    Replies* replies = replies_;
    QPointer<QObject> target(context);
    // done moves on with the answer, so that what it holds (a busy control, a cursor) is let go on
    // this thread, never on the service thread.
    service_->post(
        [replies, what, target, work = std::move(work), done = std::move(done)](cfb::Confabo& service) mutable {
            std::exception_ptr error;
            try {
                work(service);
            } catch (...) {
                error = std::current_exception();
            }
            const cfb::Account account = service.account();
            QMetaObject::invokeMethod(
                replies,
                [replies, account, error, what, target, done = std::move(done)] {
                    if (replies->session)
                        replies->session->answered(account, error, what, target, done);
                },
                Qt::QueuedConnection);
        });
}

void ClientSession::answered(const cfb::Account& account, const std::exception_ptr& error, const char* what,
    const QPointer<QObject>& context, const std::function<void(bool)>& done)
{
    if (--pending_ == 0) {
        slowTimer_.stop();
        if (slow_) {
            slow_ = false;
            emit serviceSlow(false);
        }
    }
    if (confabo_) {
        confabo_->adopt(account);
        confabo_->StartMail(); // the mail waiting is taken off this thread
        if (!mailStarted_ && confabo_->userID() > 0 && confabo_->hasIdentity()) {
            mailStarted_ = true;
            emit mailStarted();
        }
    }
    if (error) {
        withErrorReport(what, [&] { std::rethrow_exception(error); });
        if (context)
            done(false);
        return;
    }
    if (context)
        done(true);
}

ClientSession::BusyControl::BusyControl(ClientSession& session, QWidget* control)
    : control_(control)
{
    if (!control)
        return;
    wasEnabled_ = control->isEnabled();
    control->setEnabled(false);
    control->setCursor(Qt::BusyCursor);
    // Called on this thread only: the answer's own copy may be destroyed on the service thread.
    closed_ = connect(&session, &ClientSession::closed, control, [this] { release(); });
}

ClientSession::BusyControl::~BusyControl()
{
    QObject::disconnect(closed_);
}

void ClientSession::BusyControl::release()
{
    if (released_)
        return;
    released_ = true;
    QObject::disconnect(closed_);
    if (control_) {
        control_->unsetCursor();
        if (wasEnabled_)
            control_->setEnabled(true);
    }
}

bool ClientSession::sendMessage(cfb::Buddy& to, const QString& text)
{
    return confabo_ && to.SendMessage(confabo_->handle(), confabo_->Email(), text, dataPort_, dataPort_);
}

ClientSession::SentLine ClientSession::sendLine(cfb::Buddy& to, const QString& text)
{
    if (confabo_ && to.Status() == CFB_OFFLINE) {
        if (!canLeaveMail(to))
            return {};
        const uint64_t id = confabo_->QueueMail(to.handle(), text);
        return {id != 0, id, id != 0};
    }
    // The library keeps the id of its last encrypted send; a send that failed before it left
    // keeps the one before, so the id counts only for a line that went.
    if (!sendMessage(to, text))
        return {};
    return {true, confabo_->lastLineId()};
}

bool ClientSession::canLeaveMail(cfb::Buddy& buddy)
{
    return confabo_ && confabo_->hasIdentity() && confabo_->security(buddy) == cfb::PeerSecurity::Encrypted;
}

// A receiving socket that could not be bound leaves the client deaf to every buddy; the user is
// told why and what to change.
void ClientSession::checkDataPort()
{
    dataPortProblem_.clear();
    ivUDP* receiver = confabo_->wsReceive();
    const QString configured = Settings::DataPort.read().trimmed();
    bool ok = false;
    const int bound = receiver ? receiver->LocalPort().toInt(&ok) : 0;
    const bool listening = receiver && receiver->State() == sckUDPListening;
    if (listening && ok && bound > 0 && bound <= 32767) {
        dataPort_ = int16_t(bound);
        return;
    }
    // Sends still name the configured port, the one every buddy listens on.
    const int wanted = configured.toInt(&ok);
    dataPort_ = ok && wanted > 0 && wanted <= 32767 ? int16_t(wanted) : 0;
    if (confabo_->blocksAllData() || listening)
        return;
    QString reason = receiver ? receiver->LastErrorString() : QString();
    const int code = receiver ? receiver->LastErrorCode() : 0;
    if (reason.isEmpty())
        reason = QStringLiteral("the socket could not be opened");
    if (code != 0)
        reason += QStringLiteral(", error %1").arg(code);
    // In use: most likely another user of this machine, who needs an address of their own. Else
    // most likely a port below 1024 without the capability to bind it.
    const QString way = code == vWinsock::WSAEADDRINUSE
        ? QStringLiteral("Another program or another user of this machine holds it: a second user of one machine "
                         "gives their client an address of its own (setting \"Data Address\", e.g. 127.0.0.2; "
                         "scripts/run --second-user does this).")
        : QStringLiteral("An installed Confabo may use it; otherwise choose one data port of 1024 or above in Setup "
                         "and use the same port for every buddy.");
    dataPortProblem_
        = QStringLiteral("Confabo cannot receive messages or video: data port %1 could not be opened (%2). %3")
              .arg(configured, reason, way);
}

bool ClientSession::rebindDataPort(const QString& portText, QString* reason)
{
    bool ok = false;
    const int port = portText.trimmed().toInt(&ok);
    if (!ok || port < 1 || port > 65535) {
        *reason = QStringLiteral("it is not a port number from 1 to 65535");
        return false;
    }
    if (confabo_->blocksAllData()) {
        dataPort_ = int16_t(port);
        return true;
    }
    ivUDP* current = confabo_->wsReceive();
    if (current && current->State() == sckUDPListening && current->LocalPort().toInt() == port) {
        dataPort_ = int16_t(port);
        return true;
    }
    auto fresh = std::make_unique<ivUDP>();
    Confabo::bindDataPort(*fresh, QString::number(port));
    if (fresh->State() != sckUDPListening) {
        const int code = fresh->LastErrorCode();
        *reason = fresh->LastErrorString();
        if (reason->isEmpty())
            *reason = QStringLiteral("the socket could not be opened");
        if (code != 0)
            *reason += QStringLiteral(", error %1").arg(code);
        if (code == vWinsock::WSAEADDRINUSE)
            *reason += QStringLiteral("; another program or another user of this machine holds it");
        return false;
    }
    dataPort_ = int16_t(fresh->LocalPort().toInt());
    confabo_->setWsReceive(fresh.release());
    dataPortProblem_.clear();
    return true;
}

} // namespace cfb::client
