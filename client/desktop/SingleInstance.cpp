#include "desktop/SingleInstance.h"

#include "platform/SettingsStore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>

#include <unistd.h>

namespace cfb::client {
namespace {

constexpr char ActivateRequest[] = "activate\n";

} // namespace

SingleInstance::SingleInstance(const QString& name, QObject* parent)
    : QObject(parent)
    , name_(name)
{
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
}

QString SingleInstance::defaultName()
{
    // One instance per profile: a second user's client on the same account of the machine keeps
    // its settings in a folder of its own (XDG_CONFIG_HOME) and runs beside the first.
    const QString name = QStringLiteral("confabo-%1").arg(::getuid());
    const QString profile = SettingsStore::filePath();
    if (profile == QDir::homePath() + QStringLiteral("/.config/Confabo/Confabo.ini"))
        return name;
    const QByteArray digest = QCryptographicHash::hash(profile.toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
    return name + u'-' + QLatin1String(digest);
}

bool SingleInstance::activateRunning(int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(ActivateRequest);
    const bool sent = socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    return sent;
}

bool SingleInstance::listen()
{
    if (server_.isListening())
        return true;
    if (server_.listen(name_))
        return true;
    // Nobody answered on the name (activateRunning came first), so the socket file is a leftover.
    if (server_.serverError() == QAbstractSocket::AddressInUseError) {
        QLocalServer::removeServer(name_);
        return server_.listen(name_);
    }
    return false;
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            // Only the one request exists; anything else from the socket is ignored.
            while (socket->canReadLine()) {
                if (socket->readLine(64) == ActivateRequest)
                    emit activationRequested();
            }
            if (socket->bytesAvailable() > 64)
                socket->abort();
        });
    }
}

} // namespace cfb::client
