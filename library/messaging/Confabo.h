#pragma once

#include "messaging/Stati.h"

#include <QImage>
#include <QObject>
#include <QString>

#include <cstdint>

namespace cfb {

class XmlDocument;

// The messaging library's main object: the signed-in user's identity and presence, and the
// account operations. Create one per process on the thread that will use it; service calls block
// that thread. Errors in what the service answers raise ConfaboError.
class Confabo : public QObject {
    Q_OBJECT

public:
    // Loads the service channel settings from the store and writes them back, so the store holds
    // them from the first run on. Raises ConfaboError (TypeMismatch) for a timeout or
    // "Block All Data" setting that is not a number or Boolean.
    explicit Confabo(QObject* parent = nullptr);
    ~Confabo() override;

    // Signs in. False when the service cannot be reached or refuses. A notice from the service is
    // handed to UserNotice before the fields are stored. Raises ConfaboError when the reply
    // lacks an element it must have; the fields stored before that keep their new values.
    bool Login(const QString& handle, const QString& Password, const QString& hostname = QString());
    // Tells the service the user left. The reply is not examined and nothing local changes; the
    // result is always false.
    bool Logout();
    // Asks the service to change the user's presence; Status changes only when it answered.
    bool SetStatus(Stati Status);
    // Drops what the object holds for receiving and the buddies; user fields stay.
    void CleanUp();

    const QImage& Avatar() const { return avatar_; }
    int16_t MouthLeft() const { return mouthLeft_; }
    int16_t MouthTop() const { return mouthTop_; }
    QString IPAddress() const { return ipAddress_; }
    QString Email() const { return email_; }
    void setEmail(const QString& value) { email_ = value; }
    QString Password() const { return password_; }
    void setPassword(const QString& value) { password_ = value; }
    Stati Status() const { return status_; }
    void setStatus(Stati value) { status_ = value; }
    int32_t userID() const { return userID_; }
    QString handle() const { return handle_; }
    void setHandle(const QString& value) { handle_ = value; }

    // The service channel's timeouts in milliseconds, shared by every object on this thread and
    // never stored.
    int32_t HTTPSendTimeout() const;
    void setHTTPSendTimeout(int32_t milliseconds);
    int32_t HTTPRecvTimeout() const;
    void setHTTPRecvTimeout(int32_t milliseconds);
    int32_t HTTPConnTimeout() const;
    void setHTTPConnTimeout(int32_t milliseconds);

    // True when "Block All Data" was set at construction: nothing is received.
    bool blocksAllData() const { return blockAllData_; }

signals:
    void NewMessage(QString& FromHandle, QString& FromEmail, int16_t& VideoPort, QString& Message);
    void VideoFrame(QString& FromHandle, QImage& VideoFrame);

private:
    void loadChannelSettings();

    int32_t userID_ = 0;
    QString handle_;
    Stati status_ = CFB_OFFLINE;
    QString password_;
    QString email_;
    QString ipAddress_; // no operation assigns it
    QImage avatar_;
    int16_t mouthTop_ = 0;
    int16_t mouthLeft_ = 0;
    bool blockAllData_ = false;
};

} // namespace cfb
