#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <sys/stat.h>
#include <unistd.h>

// Qt's platform plugins want a private runtime folder and warn on every start without one (CI and
// a root shell have none): give the test programs one of their own.
inline void ensureTestRuntimeDir()
{
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return;
    const QByteArray dir = "/tmp/confabo-test-runtime-" + QByteArray::number(::getuid());
    ::mkdir(dir.constData(), 0700);
    ::chmod(dir.constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", dir);
}
