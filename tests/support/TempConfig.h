#pragma once

#include <QByteArray>
#include <QTemporaryDir>

// Points $XDG_CONFIG_HOME (and $XDG_DATA_HOME) at a fresh temporary folder for the life of the
// object, so a test gets an empty settings store and leaves the user's alone.
class TempConfig {
public:
    TempConfig();
    ~TempConfig();
    TempConfig(const TempConfig&) = delete;
    TempConfig& operator=(const TempConfig&) = delete;

    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    QByteArray oldConfig_;
    QByteArray oldData_;
    bool hadConfig_;
    bool hadData_;
};
