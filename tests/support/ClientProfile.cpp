#include "ClientProfile.h"

#include "ServiceProcess.h"
#include "messaging/Confabo.h"
#include "platform/Settings.h"
#include "protocol/SkipJack.h"

#include <QDir>
#include <QImage>

namespace ClientProfile {

QString password(const QString& handle)
{
    return cfb::SkipJack::EncipherPassword(QStringLiteral("pw-") + handle);
}

void write(const ServiceProcess& service, const QString& handle, bool speech)
{
    using namespace cfb;
    Settings::ServiceHost.write(service.serverSetting());
    Settings::PollingInterval.write(QStringLiteral("0"));
    Settings::IsRegistered.write(QStringLiteral("1"));
    Settings::AutoLogin.write(QStringLiteral("1"));
    Settings::Handle.write(handle);
    Settings::Password.write(password(handle));
    Settings::HostName.write(QStringLiteral("127.0.0.1"));
    Settings::EnableSpeech.write(speech ? QStringLiteral("1") : QStringLiteral("0"));
    Settings::BlockAllData.write(QStringLiteral("True"));
}

std::unique_ptr<cfb::Confabo> registerUser(const QString& folder, const QString& handle, QRgb colour)
{
    QImage avatar(45, 60, QImage::Format_RGB32);
    avatar.fill(colour);
    const QString path = QDir(folder).filePath(handle + QStringLiteral(".png"));
    if (!avatar.save(path))
        return nullptr;
    auto user = std::make_unique<cfb::Confabo>();
    if (!user->Register(handle, password(handle), handle + QStringLiteral("@example.org"), path))
        return nullptr;
    return user;
}

} // namespace ClientProfile
