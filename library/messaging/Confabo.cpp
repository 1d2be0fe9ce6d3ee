#include "messaging/Confabo.h"

#include "messaging/ConfaboError.h"
#include "messaging/FormRequest.h"
#include "messaging/TextNumbers.h"
#include "messaging/modINET.h"
#include "platform/SettingsStore.h"
#include "platform/UserNotice.h"

namespace cfb {
namespace {

const QString Data = QStringLiteral("Data");

// The text of an element the operation must find; its absence is an error for the caller.
QString requiredText(const XmlDocument& reply, const QString& path)
{
    const XmlElement element = reply.selectSingle(path);
    if (!element)
        throw ConfaboError::missingElement(path);
    return element.text();
}

} // namespace

Confabo::Confabo(QObject* parent)
    : QObject(parent)
{
    loadChannelSettings();
    blockAllData_ = toBoolean(
        SettingsStore::get(QStringLiteral("Debug"), QStringLiteral("Block All Data"), QStringLiteral("False")));
}

Confabo::~Confabo()
{
    CleanUp();
}

void Confabo::loadChannelSettings()
{
    ServiceChannel& channel = ServiceChannel::current();
    const ServiceChannel defaults;
    channel.scriptPath = SettingsStore::get(Data, QStringLiteral("CFBASP"), defaults.scriptPath);
    channel.server = SettingsStore::get(Data, QStringLiteral("CFBSERVER"), defaults.server);
    channel.sendTimeout
        = toLong(SettingsStore::get(Data, QStringLiteral("SEND_TIMEOUT"), QString::number(defaults.sendTimeout)));
    channel.recvTimeout
        = toLong(SettingsStore::get(Data, QStringLiteral("RECV_TIMEOUT"), QString::number(defaults.recvTimeout)));
    channel.connTimeout
        = toLong(SettingsStore::get(Data, QStringLiteral("CONN_TIMEOUT"), QString::number(defaults.connTimeout)));

    SettingsStore::save(Data, QStringLiteral("CFBASP"), channel.scriptPath);
    SettingsStore::save(Data, QStringLiteral("CFBSERVER"), channel.server);
    SettingsStore::save(Data, QStringLiteral("SEND_TIMEOUT"), QString::number(channel.sendTimeout));
    SettingsStore::save(Data, QStringLiteral("RECV_TIMEOUT"), QString::number(channel.recvTimeout));
    SettingsStore::save(Data, QStringLiteral("CONN_TIMEOUT"), QString::number(channel.connTimeout));
}

bool Confabo::Login(const QString& handle, const QString& Password, const QString& hostname)
{
    const XmlDocument reply
        = FormRequest("LOGIN").add("handle", handle).add("password", Password).add("ip", hostname).post();
    if (!reply.hasContent())
        return false;

    if (const XmlElement message = reply.selectSingle(QStringLiteral("/body/message"))) {
        const QString text = message.text();
        if (!text.isEmpty())
            UserNotice::show(text, QLatin1String(SettingsStore::AppTitle));
    }

    userID_ = toLong(requiredText(reply, QStringLiteral("/body/user_id")));
    handle_ = requiredText(reply, QStringLiteral("/body/handle"));
    password_ = requiredText(reply, QStringLiteral("/body/password"));
    email_ = requiredText(reply, QStringLiteral("/body/email"));
    mouthLeft_ = leadingInteger(requiredText(reply, QStringLiteral("/body/mouth_left")));
    mouthTop_ = toInteger(requiredText(reply, QStringLiteral("/body/mouth_top")));
    status_ = CFB_AVAILABLE;

    const XmlElement avatar = reply.selectSingle(QStringLiteral("/body/avatar"));
    if (!avatar)
        throw ConfaboError::missingElement(QStringLiteral("/body/avatar"));
    if (const auto bytes = avatar.typedValue()) {
        // Bytes that are no picture keep the previous avatar rather than failing the sign-in.
        QImage picture = QImage::fromData(*bytes);
        if (!picture.isNull())
            avatar_ = std::move(picture);
    }
    return true;
}

bool Confabo::Logout()
{
    FormRequest("LOGOUT").add("user_id", userID_).post();
    return false;
}

bool Confabo::SetStatus(Stati Status)
{
    const XmlDocument reply = FormRequest("USER_UPDATE").add("user_id", userID_).add("status", int64_t(Status)).post();
    if (!reply.hasContent())
        return false;
    status_ = Status;
    return true;
}

void Confabo::CleanUp()
{
}

int32_t Confabo::HTTPSendTimeout() const
{
    return ServiceChannel::current().sendTimeout;
}

void Confabo::setHTTPSendTimeout(int32_t milliseconds)
{
    ServiceChannel::current().sendTimeout = milliseconds;
}

int32_t Confabo::HTTPRecvTimeout() const
{
    return ServiceChannel::current().recvTimeout;
}

void Confabo::setHTTPRecvTimeout(int32_t milliseconds)
{
    ServiceChannel::current().recvTimeout = milliseconds;
}

int32_t Confabo::HTTPConnTimeout() const
{
    return ServiceChannel::current().connTimeout;
}

void Confabo::setHTTPConnTimeout(int32_t milliseconds)
{
    ServiceChannel::current().connTimeout = milliseconds;
}

} // namespace cfb
