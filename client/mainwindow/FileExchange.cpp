#include "mainwindow/FileExchange.h"

#include "chat/ChatTranscript.h"
#include "common/ByteSize.h"
#include "common/LocalErrorHandler.h"
#include "common/UserDialogs.h"
#include "messaging/Buddies.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "platform/Settings.h"
#include "session/ClientSession.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace cfb::client {

FileExchange::FileExchange(QWidget& window, ClientSession& session, std::function<ChatTranscript*(const QString&)> transcriptOf)
    : QObject(&window)
    , window_(window)
    , session_(session)
    , transcriptOf_(std::move(transcriptOf))
{
    connect(&session, &ClientSession::fileOffered, this, &FileExchange::offered);
    connect(&session, &ClientSession::fileProgress, this, &FileExchange::progressed);
    connect(&session, &ClientSession::fileFinished, this, &FileExchange::finished);
    connect(&session, &ClientSession::fileFailed, this, &FileExchange::failed);
    connect(&session, &ClientSession::filesToSend, this,
        [this](QWidget* parent, const QString& handle, const QStringList& paths) {
            withErrorReport("SendFile", [&] {
                if (paths.isEmpty())
                    chooseAndSend(handle, parent);
                for (const QString& path : paths)
                    send(handle, path, false, parent);
            });
        });
    connect(&session, &ClientSession::closed, this, [this] {
        const QMap<uint32_t, FileTransfer> ended = std::exchange(transfers_, {});
        QStringList handles;
        for (const FileTransfer& transfer : ended)
            if (!handles.contains(transfer.handle))
                handles << transfer.handle;
        for (const QString& handle : handles)
            emit changed(handle);
    });
}

void FileExchange::notice(const QString& handle, const QString& text)
{
    if (ChatTranscript* transcript = transcriptOf_(handle))
        transcript->appendNotice(text);
}

bool FileExchange::canSendTo(const QString& handle) const
{
    Confabo* library = session_.library();
    if (!library || !library->hasIdentity())
        return false;
    const std::shared_ptr<Buddy> buddy = library->Buddies()->Item(handle);
    return buddy && library->security(*buddy) == PeerSecurity::Encrypted;
}

void FileExchange::chooseAndSend(const QString& handle, QWidget* parent)
{
    const QString path = UserDialogs::current().openFileName(parent ? parent : &window_,
        QStringLiteral("Send File to %1").arg(handle), QStringLiteral("All files (*)"));
    if (!path.isEmpty())
        send(handle, path, false, parent);
}

bool FileExchange::send(const QString& handle, const QString& path, bool picture, QWidget* parent)
{
    Confabo* library = session_.library();
    QString error;
    uint32_t id = 0;
    if (!library) {
        error = QStringLiteral("You are not signed in.");
    } else {
        // The data port is the same for every buddy.
        const int16_t port = int16_t(Settings::DataPort.read().toInt());
        id = library->SendFile(handle, path, picture, port > 0 ? port : 80, error);
    }
    const QFileInfo info(path);
    if (id == 0) {
        UserDialogs::current().messageBox(parent ? parent : &window_, QStringLiteral("%1 was not sent. %2").arg(info.fileName(), error),
            UserDialogs::Buttons::Ok, UserDialogs::Icon::Exclamation, QStringLiteral("Send File"));
        return false;
    }
    FileTransfer transfer;
    transfer.id = id;
    transfer.handle = handle;
    transfer.name = info.fileName();
    transfer.size = info.size();
    transfer.picture = picture;
    transfer.path = info.absoluteFilePath();
    transfers_.insert(id, transfer);
    if (!picture)
        notice(handle, QStringLiteral("Offering %1 (%2) to %3...").arg(transfer.name, byteSize(transfer.size), handle));
    emit changed(handle);
    return true;
}

void FileExchange::cancel(uint32_t id)
{
    if (Confabo* library = session_.library())
        library->CancelFile(id);
}

QList<FileTransfer> FileExchange::transfersWith(const QString& handle) const
{
    QList<FileTransfer> found;
    for (const FileTransfer& transfer : transfers_)
        if (transfer.handle.compare(handle, Qt::CaseInsensitive) == 0 && !transfer.picture)
            found.append(transfer);
    return found;
}

QString FileExchange::downloadsFolder() const
{
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    return QFileInfo(downloads).isDir() ? downloads : QStandardPaths::writableLocation(QStandardPaths::HomeLocation);
}

QString FileExchange::picturesFolder() const
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/pictures");
}

void FileExchange::offered(const QString& handle, uint32_t id, const QString& name, qint64 size, bool picture)
{
    withErrorReport("FileOffered", [&] {
        Confabo* library = session_.library();
        if (!library)
            return;
        FileTransfer transfer;
        transfer.id = id;
        transfer.handle = handle;
        transfer.name = name;
        transfer.size = size;
        transfer.incoming = true;
        transfer.picture = picture;
        QString error;
        if (picture) {
            // Pictures are shown as they arrive, as a frame of video is: no question.
            QDir().mkpath(picturesFolder());
            transfer.path = QStringLiteral("%1/%2-%3-%4")
                                .arg(picturesFolder(), handle, QDateTime::currentDateTime().toString("yyyyMMdd-hhmmsszzz"), name);
            if (!library->AcceptFile(id, transfer.path, error))
                library->DeclineFile(id);
            else
                transfers_.insert(id, transfer);
            return;
        }
        notice(handle, QStringLiteral("%1 offers you %2 (%3)").arg(handle, name, byteSize(size)));
        // Kept while the user is asked: the buddy may withdraw it meanwhile (failed takes it out).
        transfers_.insert(id, transfer);
        const int answer = UserDialogs::current().messageBox(&window_,
            QStringLiteral("%1 wants to send you %2 (%3). Save it?").arg(handle, name, byteSize(size)),
            UserDialogs::Buttons::YesNo, UserDialogs::Icon::Question, QStringLiteral("Receive File"));
        library = session_.library(); // the question let other events run
        if (!library || !transfers_.contains(id))
            return;
        const QString path = answer == UserDialogs::AnswerYes
            ? UserDialogs::current().saveFileName(&window_, QStringLiteral("Save %1 As").arg(name),
                  QStringLiteral("All files (*)"), downloadsFolder() + QLatin1Char('/') + name)
            : QString();
        library = session_.library();
        if (!library || !transfers_.contains(id))
            return;
        if (path.isEmpty()) {
            transfers_.remove(id);
            library->DeclineFile(id);
            notice(handle, QStringLiteral("You declined %1").arg(name));
            return;
        }
        if (!library->AcceptFile(id, path, error)) {
            transfers_.remove(id);
            library->DeclineFile(id);
            UserDialogs::current().messageBox(&window_, QStringLiteral("%1 cannot be saved there. %2").arg(name, error),
                UserDialogs::Buttons::Ok, UserDialogs::Icon::Exclamation, QStringLiteral("Receive File"));
            return;
        }
        transfers_[id].path = QFileInfo(path).absoluteFilePath();
        emit changed(handle);
    });
}

void FileExchange::progressed(const QString& handle, uint32_t id, bool, qint64 done, qint64)
{
    const auto found = transfers_.find(id);
    if (found == transfers_.end())
        return;
    found->done = done;
    if (!found->picture)
        emit changed(handle);
}

void FileExchange::finished(const QString& handle, uint32_t id, bool incoming, const QString& path, const QString&)
{
    const FileTransfer transfer = transfers_.take(id);
    if (transfer.id == 0)
        return;
    if (transfer.picture) {
        if (incoming)
            emit pictureReceived(handle, path);
        return;
    }
    notice(handle, incoming ? QStringLiteral("Saved %1 from %2 as %3").arg(transfer.name, handle, QDir::toNativeSeparators(path))
                            : QStringLiteral("%1 received %2 whole").arg(handle, transfer.name));
    emit changed(handle);
}

void FileExchange::failed(const QString& handle, uint32_t id, bool incoming, const QString& reason)
{
    const FileTransfer transfer = transfers_.take(id);
    if (transfer.id == 0)
        return;
    notice(handle, incoming ? QStringLiteral("%1 from %2 was not received: %3").arg(transfer.name, handle, reason)
                            : QStringLiteral("%1 was not sent to %2: %3").arg(transfer.name, handle, reason));
    emit changed(handle);
}

} // namespace cfb::client
