#include "session/ClientSession.h"

#include "messaging/Confabo.h"
#include "platform/Settings.h"
#include "transport/ivUDP.h"
#include "transport/vWinsock.h"

#include <memory>

namespace cfb::client {

ClientSession::ClientSession(SpeechEngine* speech, QObject* parent)
    : QObject(parent)
    , speech_(speech)
{
}

ClientSession::~ClientSession() = default;

cfb::Confabo* ClientSession::open()
{
    close();
    confabo_ = std::make_unique<cfb::Confabo>();
    return confabo_.get();
}

void ClientSession::close()
{
    if (!confabo_)
        return;
    if (confabo_->Status() != CFB_OFFLINE)
        confabo_->Logout();
    confabo_->CleanUp();
    confabo_.reset();
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
