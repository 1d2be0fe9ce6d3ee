#pragma once

#include "chat/FileTransfer.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

#include <functional>

class QWidget;

namespace cfb::client {

class ChatTranscript;
class ClientSession;

// The files of the signed-in user, both ways: "Send File..." and files dropped on a chat, the
// question when a buddy offers one, where it is saved, and what the conversation says of each
// (sent, saved, failed). Pictures that come whole are saved where the client keeps its pictures
// without asking and handed on to be shown (picture).
class FileExchange : public QObject {
    Q_OBJECT

public:
    // transcriptOf: the buddy's conversation record, made when there is none (nullptr for a
    // user who is no buddy).
    FileExchange(QWidget& window, ClientSession& session, std::function<ChatTranscript*(const QString&)> transcriptOf);

    // Asks for a file (over parent, else the main window) and offers it to the buddy.
    void chooseAndSend(const QString& handle, QWidget* parent = nullptr);
    // Offers the file at path; false after telling the user why not (over parent, else the
    // main window).
    bool send(const QString& handle, const QString& path, bool picture = false, QWidget* parent = nullptr);
    void cancel(uint32_t id);
    // Whether files can go to the buddy now (their client has a key, and they are online).
    bool canSendTo(const QString& handle) const;

    QList<FileTransfer> transfersWith(const QString& handle) const;

signals:
    // The transfers with the buddy changed (one began, moved on or ended).
    void changed(const QString& handle);
    // A picture from the buddy arrived whole, saved at path.
    void pictureReceived(const QString& handle, const QString& path);

private:
    void offered(const QString& handle, uint32_t id, const QString& name, qint64 size, bool picture);
    void progressed(const QString& handle, uint32_t id, bool incoming, qint64 done, qint64 total);
    void finished(const QString& handle, uint32_t id, bool incoming, const QString& path, const QString& sha256);
    void failed(const QString& handle, uint32_t id, bool incoming, const QString& reason);
    void notice(const QString& handle, const QString& text);
    QString picturesFolder() const;
    // Where a file offered is saved unless the user chooses elsewhere.
    QString downloadsFolder() const;

    QWidget& window_;
    ClientSession& session_;
    std::function<ChatTranscript*(const QString&)> transcriptOf_;
    QMap<uint32_t, FileTransfer> transfers_;
};

} // namespace cfb::client
