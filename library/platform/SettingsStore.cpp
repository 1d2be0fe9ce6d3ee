#include "platform/SettingsStore.h"

#include "protocol/PercentCoding.h"

#include <QDir>
#include <QSettings>

namespace cfb {
namespace {

// QSettings reads '/' and '\' as group separators. Percent-encoding them (and '%' itself)
// keeps every name one level deep and round-trips it exactly.
QString escapeName(const QString& name)
{
    return PercentCoding::escaped(name, u"/\\");
}

QString keyPath(const QString& section, const QString& key)
{
    return escapeName(section) + u'/' + escapeName(key);
}

} // namespace

QString SettingsStore::filePath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + u'/' + QLatin1String(AppTitle) + u'/' + QLatin1String(AppTitle) + QStringLiteral(".ini");
}

QString SettingsStore::get(const QString& section, const QString& key, const QString& defaultValue)
{
    QSettings settings(filePath(), QSettings::IniFormat);
    const QVariant value = settings.value(keyPath(section, key));
    return value.isValid() ? value.toString() : defaultValue;
}

void SettingsStore::save(const QString& section, const QString& key, const QString& value)
{
    QSettings settings(filePath(), QSettings::IniFormat);
    const QString path = keyPath(section, key);
    // A value the file holds already is not written again: writing rewrites the whole file.
    if (const QVariant stored = settings.value(path); stored.isValid() && stored.toString() == value)
        return;
    settings.setValue(path, value);
    settings.sync();
}

void SettingsStore::remove(const QString& section, const QString& key)
{
    QSettings settings(filePath(), QSettings::IniFormat);
    settings.remove(keyPath(section, key));
    settings.sync();
}

} // namespace cfb
