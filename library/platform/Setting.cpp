#include "platform/Setting.h"

#include "platform/SettingsStore.h"

namespace cfb {

QString Setting::read() const
{
    return read(QString::fromLatin1(defaultValue));
}

QString Setting::read(const QString& windowDefault) const
{
    return SettingsStore::get(QString::fromLatin1(section), QString::fromLatin1(key), windowDefault);
}

void Setting::write(const QString& value) const
{
    SettingsStore::save(QString::fromLatin1(section), QString::fromLatin1(key), value);
}

void Setting::erase() const
{
    SettingsStore::remove(QString::fromLatin1(section), QString::fromLatin1(key));
}

QString BuddySetting::read(const QString& handle) const
{
    return SettingsStore::get(handle, QString::fromLatin1(key), QString::fromLatin1(defaultValue));
}

void BuddySetting::write(const QString& handle, const QString& value) const
{
    SettingsStore::save(handle, QString::fromLatin1(key), value);
}

} // namespace cfb
