#pragma once

#include <QString>

namespace cfb::client {

// The application event log: syslog(3) under the program's name, which the journal keeps.
class EventLog {
public:
    // The event types the client writes; others are logged as notices.
    enum Type { Error = 1, Warning = 2, Information = 4 };

    static void write(const QString& text, int eventType);
    // The syslog priority an event type is written with.
    static int priority(int eventType);
};

} // namespace cfb::client
