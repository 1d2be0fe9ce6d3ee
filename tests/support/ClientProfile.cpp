#include "ClientProfile.h"

#include "ServiceProcess.h"
#include "platform/Settings.h"
#include "startup/SkipJack.h"

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

} // namespace ClientProfile
