#include "desktop/AutoStart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace cfb::client {

QString AutoStart::entryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/autostart/Confabo.desktop");
}

QString AutoStart::installedProgram()
{
    const QFileInfo installed(QStringLiteral(CONFABO_INSTALL_BINDIR "/confabo"));
    if (installed.isFile() && installed.isExecutable())
        return installed.absoluteFilePath();
    return QStandardPaths::findExecutable(QStringLiteral("confabo"));
}

QString AutoStart::execLine(const QString& program)
{
    // Inside double quotes a desktop entry escapes ", `, $ and \ with a backslash, and the
    // key file format doubles every backslash once more.
    QString quoted;
    for (const QChar c : program) {
        if (c == u'"' || c == u'`' || c == u'$')
            quoted += QStringLiteral("\\\\");
        if (c == u'\\')
            quoted += QStringLiteral("\\\\\\");
        quoted += c;
    }
    return u'"' + quoted + u'"';
}

bool AutoStart::enable()
{
    const QString target = installedProgram();
    const QString path = entryPath();
    if (target.isEmpty() || !QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Confabo\n"
                                         "Comment=Video messenger\n"
                                         "Exec=%1\n"
                                         "Icon=confabo\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(execLine(target));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(entry.toUtf8());
    return file.commit();
}

bool AutoStart::disable()
{
    QFile file(entryPath());
    return !file.exists() || file.remove();
}

bool AutoStart::isEnabled()
{
    return QFile::exists(entryPath());
}

} // namespace cfb::client
