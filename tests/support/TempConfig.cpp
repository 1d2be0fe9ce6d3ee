#include "TempConfig.h"

TempConfig::TempConfig()
    : oldConfig_(qgetenv("XDG_CONFIG_HOME"))
    , oldData_(qgetenv("XDG_DATA_HOME"))
    , hadConfig_(qEnvironmentVariableIsSet("XDG_CONFIG_HOME"))
    , hadData_(qEnvironmentVariableIsSet("XDG_DATA_HOME"))
{
    qputenv("XDG_CONFIG_HOME", dir_.path().toLocal8Bit() + "/config");
    qputenv("XDG_DATA_HOME", dir_.path().toLocal8Bit() + "/data");
}

TempConfig::~TempConfig()
{
    if (hadConfig_)
        qputenv("XDG_CONFIG_HOME", oldConfig_);
    else
        qunsetenv("XDG_CONFIG_HOME");
    if (hadData_)
        qputenv("XDG_DATA_HOME", oldData_);
    else
        qunsetenv("XDG_DATA_HOME");
}
