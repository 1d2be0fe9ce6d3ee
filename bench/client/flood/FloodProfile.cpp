// Writes the settings store of a desktop client that signs in at start, for the flood harness
// (flood.py): the service, the handle, the enciphered password, the data port, no speech.
//
//   flood_profile CONFIG_DIR SERVER HANDLE PASSWORD DATA_PORT
#include "platform/Settings.h"
#include "protocol/SkipJack.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 6) {
        std::fprintf(stderr, "usage: flood_profile CONFIG_DIR SERVER HANDLE PASSWORD DATA_PORT\n");
        return 2;
    }
    const QString dir = QDir(args[1]).absolutePath();
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "flood_profile: cannot create %s\n", qPrintable(dir));
        return 1;
    }
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir));

    using namespace cfb;
    Settings::ServiceHost.write(args[2]);
    Settings::IsRegistered.write(QStringLiteral("1"));
    Settings::AutoLogin.write(QStringLiteral("1"));
    Settings::Handle.write(args[3]);
    Settings::Password.write(SkipJack::EncipherPassword(args[4]));
    Settings::HostName.write(QStringLiteral("127.0.0.1"));
    Settings::DataPort.write(args[5]);
    // Speech would read every flooded line aloud; the harness measures the window.
    Settings::EnableSpeech.write(QStringLiteral("0"));
    return 0;
}
