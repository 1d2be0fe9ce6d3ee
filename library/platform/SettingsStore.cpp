#include "platform/SettingsStore.h"

#include "protocol/PercentCoding.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSettings>

#include <sys/stat.h>

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

// The file holds the enciphered password, which is as good as the password: the folder (where the
// key file lives too) and the file are the owner's alone, made so before anything is written, and
// mended once a process where an earlier version left them readable.
void keepPrivate(const QString& file, bool creating)
{
    thread_local QSet<QString> mended;
    const QString folder = QFileInfo(file).absolutePath();
    if (creating && !QFileInfo::exists(folder))
        QDir().mkpath(folder);
    if (mended.contains(file) || !QFileInfo::exists(folder))
        return;
    mended.insert(file);
    ::chmod(QFile::encodeName(folder).constData(), 0700);
    if (QFileInfo::exists(file))
        ::chmod(QFile::encodeName(file).constData(), 0600);
}

void syncPrivately(QSettings& settings)
{
    settings.sync();
    ::chmod(QFile::encodeName(settings.fileName()).constData(), 0600);
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
    keepPrivate(filePath(), false);
    QSettings settings(filePath(), QSettings::IniFormat);
    const QVariant value = settings.value(keyPath(section, key));
    return value.isValid() ? value.toString() : defaultValue;
}

void SettingsStore::save(const QString& section, const QString& key, const QString& value)
{
    keepPrivate(filePath(), true);
    QSettings settings(filePath(), QSettings::IniFormat);
    const QString path = keyPath(section, key);
    // A value the file holds already is not written again: writing rewrites the whole file.
    if (const QVariant stored = settings.value(path); stored.isValid() && stored.toString() == value)
        return;
    settings.setValue(path, value);
    syncPrivately(settings);
}

void SettingsStore::remove(const QString& section, const QString& key)
{
    keepPrivate(filePath(), true);
    QSettings settings(filePath(), QSettings::IniFormat);
    settings.remove(keyPath(section, key));
    syncPrivately(settings);
}

} // namespace cfb
