#include "common/EventLog.h"

#include <syslog.h>

namespace cfb::client {

int EventLog::priority(int eventType)
{
    switch (eventType) {
    case Error:
        return LOG_ERR;
    case Warning:
        return LOG_WARNING;
    case Information:
        return LOG_INFO;
    default:
        return LOG_NOTICE;
    }
}

void EventLog::write(const QString& text, int eventType)
{
    static const bool opened = [] {
        openlog("confabo", LOG_PID, LOG_USER);
        return true;
    }();
    (void)opened;
    // The text is data, never a format.
    syslog(priority(eventType), "%s", text.toUtf8().constData());
}

} // namespace cfb::client
